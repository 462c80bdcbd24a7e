// SPDX-License-Identifier: GPL-3.0-or-later
// The folder of a tree that a run is working in, kept open between files.
#ifndef FERRYBOX_ENGINE_FOLDER_CURSOR_H_
#define FERRYBOX_ENGINE_FOLDER_CURSOR_H_

#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/scoped_handle.h"

namespace ferrybox {

/// Holds a tree's root folder and its current folder open. A run hands
/// over files folder by folder, so moving is rare and moving into a
/// subfolder of the current folder opens only the levels in between.
class FolderCursor {
 public:
  explicit FolderCursor(Platform& platform)
      : platform_(platform), root_(platform), current_(platform) {}

  /// Opens the root by its path, following links: the user chose it.
  int OpenRoot(const std::string& path);
  /// Opens the folder open as `folder` anew as the root.
  int OpenRootAt(Handle folder);
  bool has_root() const { return root_.valid(); }

  /// Makes the folder `relative` below the root ("" for the root itself)
  /// the current one. No level below the root may be a link. With
  /// `create_missing`, missing levels are made on the way, open to their
  /// owner only: a backup's folders get their own permissions once done.
  /// `keep_going`, when given, is asked before each level is opened or
  /// made, as WalkFolders asks it. On failure the cursor stands where it
  /// was or, for a missing level, at the deepest level on the way.
  int MoveTo(std::string_view relative, bool create_missing = false,
             const std::function<bool()>* keep_going = nullptr);

  /// Asked by MoveTo of each level it opens below the root (WalkRules::
  /// check_level). Not owned.
  void SetLevelCheck(const std::function<int(Handle)>* check) {
    check_level_ = check;
  }

  /// The current folder; valid after a successful MoveTo.
  Handle current() const {
    return current_.valid() ? current_.get() : root_.get();
  }
  /// The root folder; valid after a successful OpenRoot.
  Handle root() const { return root_.get(); }

 private:
  Platform& platform_;
  ScopedHandle root_;
  // Not valid while the current folder is the root itself.
  ScopedHandle current_;
  std::string relative_;
  bool positioned_ = false;
  const std::function<int(Handle)>* check_level_ = nullptr;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_FOLDER_CURSOR_H_
