// SPDX-License-Identifier: GPL-3.0-or-later
// The names copies are written under before they are complete.
#ifndef FERRYBOX_PLATFORM_TEMP_NAME_H_
#define FERRYBOX_PLATFORM_TEMP_NAME_H_

#include <errno.h>

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace ferrybox {

/// A name no other call of this process returns: ".~ferrybox-", a token
/// drawn once per process, "-", a counter, ".part". It stays short whatever
/// the name of the file being copied.
std::string NewTempName();

/// True for every name NewTempName can return, in any process, and for no
/// other: a file under such a name is an unfinished copy, left behind by a
/// run that was killed or being written by one under way.
bool IsTempName(std::string_view name);

/// True for a name NewTempName returned in this very process: a copy still
/// being written (by a run that a nested run interrupted, or ahead of the
/// run), never one left behind by a run that was killed.
bool IsOwnTempName(std::string_view name);

/// Calls `create(name)` with new temporary names until one is not taken
/// (EEXIST), a few times at most; `*name` receives the last name tried.
/// Returns what `create` returned last. A name taken by a file of an earlier
/// process is skipped, never replaced; with a per-process token in every
/// name, more than one retry means something else is wrong.
template <typename Create>
int WithNewTempName(std::string* name, Create create) {
  constexpr int kAttempts = 5;
  int error = EEXIST;
  for (int attempt = 0; attempt < kAttempts && error == EEXIST; ++attempt) {
    *name = NewTempName();
    error = create(*name);
  }
  return error;
}

/// Creates a new file in `folder` under a new temporary name, exclusively
/// and readable by the owner only; `*name` receives the name and `*out` the
/// handle.
int CreateTempFile(Platform& platform, Handle folder, std::string* name,
                   Handle* out);

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_TEMP_NAME_H_
