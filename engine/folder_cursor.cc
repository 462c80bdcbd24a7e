// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/folder_cursor.h"

#include <errno.h>

#include "engine/folder_walk.h"
#include "engine/path_names.h"

namespace ferrybox {

int FolderCursor::OpenRoot(const std::string& path) {
  positioned_ = false;
  current_.reset();
  return platform_.Open(kWorkingFolder, path.empty() ? "." : path,
                        OpenMode::kFolder, root_.out());
}

int FolderCursor::OpenRootAt(Handle folder) {
  positioned_ = false;
  current_.reset();
  return platform_.Open(folder, ".", OpenMode::kFolder, root_.out());
}

int FolderCursor::MoveTo(std::string_view relative, bool create_missing,
                         const std::function<bool()>* keep_going) {
  if (!root_.valid()) return EBADF;
  if (positioned_ && relative == relative_ && !create_missing) return 0;
  const WalkRules rules{.create_missing = create_missing,
                        .follow_links = false,
                        .owner_only = create_missing,
                        .keep_going = keep_going,
                        .check_level = check_level_};
  Handle start = root_.get();
  std::string_view rest = relative;
  if (positioned_ && relative.size() > relative_.size() &&
      relative.starts_with(relative_) &&
      (relative_.empty() || relative[relative_.size()] == kSeparator)) {
    start = current();
    rest = relative.substr(relative_.size());
  }
  positioned_ = false;
  if (rest.find_first_not_of(kSeparator) == std::string_view::npos &&
      start == root_.get()) {
    current_.reset();
  } else {
    Handle next = kNoHandle;
    WalkReach reached;
    const int error =
        WalkFolders(platform_, start, rest, rules, &next, nullptr, &reached);
    if (error != 0) {
      // Stays at the deepest level that exists: a caller that looks for
      // it level by level upwards (the folder to make a missing chain in)
      // then pays one open per level, not a walk from the root each.
      if (reached.folder != kNoHandle) {
        current_.reset(reached.folder);
        relative_ =
            relative.substr(0, relative.size() - rest.size() + reached.length);
        positioned_ = true;
      } else if (start == root_.get()) {
        current_.reset();
        relative_.clear();
        positioned_ = true;
      } else {
        // Where it was.
        positioned_ = true;
      }
      return error;
    }
    current_.reset(next);
  }
  relative_ = relative;
  positioned_ = true;
  return 0;
}

}  // namespace ferrybox
