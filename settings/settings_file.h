// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file: the last source and destination folders.
#ifndef FERRYBOX_SETTINGS_SETTINGS_FILE_H_
#define FERRYBOX_SETTINGS_SETTINGS_FILE_H_

#include <string>
#include <vector>

#include "platform/platform.h"

namespace ferrybox {

/// The program folder + "/config.txt".
std::string SettingsFilePath(const std::string& program_folder);

/// Reads the settings file: `folders` gets its first line (the source
/// folder) and its second (the destination folder), as far as the file has
/// them; later lines are never read. Returns false and sets `err` when the
/// file cannot be read.
bool ReadSettingsFile(const std::string& path,
                      std::vector<std::string>* folders, std::string* err);

/// Writes the two folders as the settings file's two lines through
/// `files`, replacing the file only once the new one is complete and on the
/// disk (see WriteLines). Returns false and sets `err` when it could not.
bool WriteSettingsFile(Platform& files, const std::string& path,
                       const std::string& source,
                       const std::string& destination, std::string* err);
/// WriteSettingsFile on the system's own file system.
bool WriteSettingsFile(const std::string& path, const std::string& source,
                       const std::string& destination, std::string* err);

}  // namespace ferrybox

#endif  // FERRYBOX_SETTINGS_SETTINGS_FILE_H_
