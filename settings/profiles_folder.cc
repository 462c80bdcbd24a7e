// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/profiles_folder.h"

#include "settings/profile.h"

namespace ferrybox {

void EnsureProfilesFolder(Platform& platform,
                          const std::string& program_folder) {
  const std::string folder = ProfilesFolder(program_folder);
  FileInfo info;
  if (platform.Stat(kWorkingFolder, folder, true, &info) == 0 &&
      (info.type == EntryType::kFolder || info.type == EntryType::kFile))
    return;
  // Each level from the top down; one that exists fails with EEXIST, and a
  // level that cannot be made leaves the deeper ones failing too.
  for (std::size_t slash = folder.find('/', 1);;
       slash = folder.find('/', slash + 1)) {
    (void)platform.MakeFolder(kWorkingFolder, folder.substr(0, slash));
    if (slash == std::string::npos) return;
  }
}

}  // namespace ferrybox
