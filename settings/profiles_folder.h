// SPDX-License-Identifier: GPL-3.0-or-later
// The profiles folder: made at start-up, and the files found in it.
#ifndef FERRYBOX_SETTINGS_PROFILES_FOLDER_H_
#define FERRYBOX_SETTINGS_PROFILES_FOLDER_H_

#include <string>
#include <vector>

#include "platform/platform.h"

namespace ferrybox {

/// Makes the profiles folder (ProfilesFolder), each missing level, but only
/// when the program folder holds no folder and no regular file of that name
/// (links followed). A file named "profiles" is left alone: the profile
/// list then stays empty. A folder that cannot be made is not reported.
void EnsureProfilesFolder(Platform& platform,
                          const std::string& program_folder);

/// True when `path` names a regular file (or a link to one) whose length can
/// be read. Every error is false.
bool FileExists(Platform& platform, const std::string& path);

/// The names of the regular files (links to one included) in the folder
/// `Path` whose names contain `extension` (exact, case-sensitive), in
/// listing order. A folder that cannot be listed gives no names.
std::vector<std::string> ListFiles_p(Platform& platform,
                                     const std::string& Path,
                                     const std::string& extension);

}  // namespace ferrybox

#endif  // FERRYBOX_SETTINGS_PROFILES_FOLDER_H_
