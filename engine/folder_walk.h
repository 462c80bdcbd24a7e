// SPDX-License-Identifier: GPL-3.0-or-later
// Reaching a folder level by level from a folder already open.
#ifndef FERRYBOX_ENGINE_FOLDER_WALK_H_
#define FERRYBOX_ENGINE_FOLDER_WALK_H_

#include <functional>
#include <string_view>

#include "platform/platform.h"

namespace ferrybox {

/// How WalkFolders treats the levels it passes.
struct WalkRules {
  /// Create a missing level instead of failing with ENOENT.
  bool create_missing = false;
  /// Follow a link at any level. Without it a link fails the walk (ELOOP or
  /// ENOTDIR), and so do "." and ".." (EINVAL): nothing below `start` is
  /// ever left.
  bool follow_links = false;
  /// Levels made are open to their owner only (MakePrivateFolder).
  bool owner_only = false;
  /// When given, asked before each level is opened or made, and after one
  /// is made: false ends the walk there with kErrorStopped, so that a stop
  /// never waits for the rest of a long path on a slow drive.
  const std::function<bool()>* keep_going = nullptr;
  /// When given, asked of each level opened below `start`: an error ends
  /// the walk with it, before anything is made below that level.
  const std::function<int(Handle)>* check_level = nullptr;
};

/// Whether `keep_going`, when given and set, says the run was stopped.
inline bool StopAsked(const std::function<bool()>* keep_going) {
  return keep_going != nullptr && *keep_going && !(*keep_going)();
}

/// Opens the folder `relative` (names joined by separators; empty or only
/// separators means `start` itself, opened anew) below the folder handle
/// `start`, one level at a time so that its length is never limited by the
/// system's path limit. On success `*out` is a new handle. `*created` (when
/// given) tells whether any level was made.
/// When a level is missing (ENOENT) and `reached` is given, the deepest
/// level opened on the way, if any, is handed back in it: a handle of its
/// own and the length of `relative` that leads to it. Who looks for the
/// deepest level that exists then need not walk again from the start.
struct WalkReach {
  Handle folder = kNoHandle;
  size_t length = 0;
};
int WalkFolders(Platform& platform, Handle start, std::string_view relative,
                WalkRules rules, Handle* out, bool* created = nullptr,
                WalkReach* reached = nullptr);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_FOLDER_WALK_H_
