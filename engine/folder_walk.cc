// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/folder_walk.h"

#include <errno.h>

#include <string>

#include "engine/path_names.h"
#include "platform/failure.h"
#include "platform/scoped_handle.h"

namespace ferrybox {

int WalkFolders(Platform& platform, Handle start, std::string_view relative,
                WalkRules rules, Handle* out, bool* created,
                WalkReach* reached) {
  if (created != nullptr) *created = false;
  const OpenMode mode =
      rules.follow_links ? OpenMode::kFolder : OpenMode::kFolderNoFollow;
  ScopedHandle current(platform);
  size_t pos = 0;
  size_t opened = 0;  // the length of `relative` that leads to `current`
  for (;;) {
    while (pos < relative.size() && relative[pos] == kSeparator) ++pos;
    if (pos >= relative.size()) break;
    size_t end = relative.find(kSeparator, pos);
    if (end == std::string_view::npos) end = relative.size();
    const std::string name(relative.substr(pos, end - pos));
    pos = end;
    if (!rules.follow_links && (name == "." || name == "..")) return EINVAL;
    if (StopAsked(rules.keep_going)) return kErrorStopped;

    const Handle parent = current.valid() ? current.get() : start;
    Handle next = kNoHandle;
    int error = platform.Open(parent, name, mode, &next);
    if (error == ENOENT && rules.create_missing) {
      error = rules.owner_only ? platform.MakePrivateFolder(parent, name)
                               : platform.MakeFolder(parent, name);
      // Someone else may have made it in between: then it is there.
      if (error == 0 && created != nullptr) *created = true;
      if (error == 0 || error == EEXIST) {
        // A stop that came while the folder was made waits for no more
        // round trips: the new folder stays open to its owner only.
        if (StopAsked(rules.keep_going)) return kErrorStopped;
        error = platform.Open(parent, name, mode, &next);
      }
    }
    if (error == ENOENT && reached != nullptr && current.valid()) {
      reached->folder = current.release();
      reached->length = opened;
    }
    if (error != 0) return error;
    current.reset(next);
    if (rules.check_level != nullptr && *rules.check_level) {
      error = (*rules.check_level)(current.get());
      if (error != 0) return error;
    }
    opened = pos;
  }
  if (!current.valid()) {
    // `relative` named `start` itself.
    int error = platform.Open(start, ".", OpenMode::kFolder, current.out());
    if (error != 0) return error;
  }
  *out = current.release();
  return 0;
}

}  // namespace ferrybox
