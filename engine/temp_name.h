// The names copies are written under before they are complete.
#ifndef FERRYBOX_ENGINE_TEMP_NAME_H_
#define FERRYBOX_ENGINE_TEMP_NAME_H_

#include <string>
#include <string_view>

namespace ferrybox {

/// A name no other call of this process returns: ".~ferrybox-", a token
/// drawn once per process, "-", a counter, ".part". It stays short whatever
/// the name of the file being copied.
std::string NewTempName();

/// True for every name NewTempName can return, in any process, and for no
/// other: a file under such a name is an unfinished copy, left behind by a
/// run that was killed or being written by one under way.
bool IsTempName(std::string_view name);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_TEMP_NAME_H_
