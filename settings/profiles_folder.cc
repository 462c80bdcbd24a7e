// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/profiles_folder.h"

#include "engine/mkdirs.h"
#include "settings/profile.h"

namespace ferrybox {

void EnsureProfilesFolder(Platform& platform,
                          const std::string& program_folder) {
  const std::string folder = ProfilesFolder(program_folder);
  FileInfo info;
  if (platform.Stat(kWorkingFolder, folder, true, &info) == 0 &&
      (info.type == EntryType::kFolder || info.type == EntryType::kFile))
    return;
  MkDirs(platform, folder);
}

}  // namespace ferrybox
