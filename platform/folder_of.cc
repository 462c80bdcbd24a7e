// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/folder_of.h"

namespace ferrybox {

std::string FolderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

void MakeMissingLevels(Platform& files, const std::string& folder,
                       bool owner_only) {
  for (std::size_t slash = folder.find('/', 1);;
       slash = folder.find('/', slash + 1)) {
    const std::string level = folder.substr(0, slash);
    // One that exists fails with EEXIST, which is no failure here.
    (void)(owner_only ? files.MakePrivateFolder(kWorkingFolder, level)
                      : files.MakeFolder(kWorkingFolder, level));
    if (slash == std::string::npos) return;
  }
}

}  // namespace ferrybox
