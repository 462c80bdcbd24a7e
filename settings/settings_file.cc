// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_file.h"

#include "settings/text_file.h"

namespace ferrybox {

std::string SettingsFilePath(const std::string& program_folder) {
  return program_folder + "/config.txt";
}

bool ReadSettingsFile(const std::string& path,
                      std::vector<std::string>* folders, std::string* err) {
  return ReadLines(DefaultPlatform(), path, 2, folders, err);
}

bool WriteSettingsFile(Platform& files, const std::string& path,
                       const std::string& source,
                       const std::string& destination, std::string* err) {
  return WriteLines(files, path, {source, destination}, err);
}

bool WriteSettingsFile(const std::string& path, const std::string& source,
                       const std::string& destination, std::string* err) {
  return WriteSettingsFile(DefaultPlatform(), path, source, destination, err);
}

}  // namespace ferrybox
