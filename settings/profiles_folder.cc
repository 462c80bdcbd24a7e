// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/profiles_folder.h"

#include <utility>

#include "platform/folder_of.h"
#include "platform/scoped_handle.h"
#include "settings/profile.h"

namespace ferrybox {

void EnsureProfilesFolder(Platform& platform,
                          const std::string& program_folder) {
  const std::string folder = ProfilesFolder(program_folder);
  FileInfo info;
  if (platform.Stat(kWorkingFolder, folder, true, &info) == 0 &&
      (info.type == EntryType::kFolder || info.type == EntryType::kFile))
    return;
  MakeMissingLevels(platform, folder, false);
}

bool FileExists(Platform& platform, const std::string& path) {
  if (path.empty()) return false;
  FileInfo info;
  return platform.Stat(kWorkingFolder, path, true, &info) == 0 &&
         info.type == EntryType::kFile;
}

std::vector<std::string> ListFiles_p(Platform& platform,
                                     const std::string& Path,
                                     const std::string& extension) {
  std::vector<std::string> names;
  ScopedHandle dir(platform);
  if (platform.Open(kWorkingFolder, Path.empty() ? "." : Path,
                    OpenMode::kFolder, dir.out()) != 0)
    return names;
  std::vector<DirEntry> entries;
  FileId self;
  // A listing cut short still gives the names it reached.
  (void)platform.ListFolder(dir.get(), &entries, &self);
  for (DirEntry& entry : entries) {
    if (entry.name.find(extension) == std::string::npos) continue;
    // A link, or an entry whose type the listing does not tell, is looked
    // up through to what it leads to.
    FileInfo info;
    if (entry.type != EntryType::kFile &&
        (entry.type == EntryType::kFolder || entry.type == EntryType::kOther ||
         platform.Stat(dir.get(), entry.name, true, &info) != 0 ||
         info.type != EntryType::kFile))
      continue;
    names.push_back(std::move(entry.name));
  }
  return names;
}

}  // namespace ferrybox
