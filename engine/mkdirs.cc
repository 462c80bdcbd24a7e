// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mkdirs.h"

#include "engine/folder_scan.h"
#include "engine/folder_walk.h"
#include "platform/scoped_handle.h"

namespace ferrybox {

int MkDirs(Platform& platform, std::string PathIn) {
  ScopedHandle top(platform);
  Handle start = kWorkingFolder;
  if (!PathIn.empty() && PathIn[0] == kSeparator) {
    // The root is always there; it is opened, never created.
    if (const int error =
            platform.Open(kWorkingFolder, std::string(1, kSeparator),
                          OpenMode::kFolder, top.out()))
      return error;
    start = top.get();
  }
  ScopedHandle folder(platform);
  return WalkFolders(platform, start, PathIn,
                     WalkRules{.create_missing = true, .follow_links = true},
                     folder.out());
}

}  // namespace ferrybox
