#include "engine/mkdirs.h"

#include "engine/folder_scan.h"
#include "engine/folder_walk.h"
#include "engine/scoped_handle.h"

namespace ferrybox {

bool MkDirs(Platform& platform, std::string PathIn) {
  ScopedHandle top(platform);
  Handle start = kWorkingFolder;
  if (!PathIn.empty() && PathIn[0] == kSeparator) {
    // The root is always there; it is opened, never created.
    if (platform.Open(kWorkingFolder, std::string(1, kSeparator),
                      OpenMode::kFolder, top.out()) != 0)
      return false;
    start = top.get();
  }
  ScopedHandle folder(platform);
  return WalkFolders(platform, start, PathIn,
                     WalkRules{.create_missing = true, .follow_links = true},
                     folder.out()) == 0;
}

}  // namespace ferrybox
