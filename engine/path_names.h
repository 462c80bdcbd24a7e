// SPDX-License-Identifier: GPL-3.0-or-later
// The separator and the small routines built on it.
#ifndef FERRYBOX_ENGINE_PATH_NAMES_H_
#define FERRYBOX_ENGINE_PATH_NAMES_H_

#include <string>
#include <string_view>

namespace ferrybox {

/// The only path separator the program writes.
inline constexpr char kSeparator = '/';

/// `strFolder` with a separator at its end; an empty string stays empty and
/// a path already ending in one is given back unchanged.
std::string TrailingSlash(const std::string& strFolder);

/// `folder` followed by `name`, in a string no longer than that: a run keeps
/// one such path for every file it collects, and `folder + name` would
/// keep room for nearly twice as much.
std::string JoinedPath(std::string_view folder, std::string_view name);

/// The 1-based position of the last separator in `fname`, 0 when there is
/// none.
int lastslash(std::string_view fname);

/// A path below a root, cut at its last separator.
struct FolderAndName {
  std::string_view folder;  ///< all before it; empty for a name in the root
  std::string_view name;    ///< all after it
};
/// Cuts `relative` at its last separator (lastslash). The parts point into
/// `relative`.
FolderAndName SplitRelative(std::string_view relative);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_PATH_NAMES_H_
