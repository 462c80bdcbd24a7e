// SPDX-License-Identifier: GPL-3.0-or-later
// The profiles folder at start-up.
#ifndef FERRYBOX_SETTINGS_PROFILES_FOLDER_H_
#define FERRYBOX_SETTINGS_PROFILES_FOLDER_H_

#include <string>

#include "platform/platform.h"

namespace ferrybox {

/// Makes the profiles folder (ProfilesFolder), each missing level, but only
/// when the program folder holds no folder and no regular file of that name
/// (links followed). A file named "profiles" is left alone: the profile
/// list then stays empty. A folder that cannot be made is not reported.
void EnsureProfilesFolder(Platform& platform,
                          const std::string& program_folder);

}  // namespace ferrybox

#endif  // FERRYBOX_SETTINGS_PROFILES_FOLDER_H_
