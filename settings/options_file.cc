// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/options_file.h"

#include <errno.h>

#include <string>

#include "platform/folder_of.h"
#include "settings/profile.h"
#include "settings/text_file.h"

namespace ferrybox {
namespace {

constexpr char kHeader[] = "# Ferrybox options: one \"key = value\" a line";
constexpr char kLeaveOut[] = "leave out";
constexpr char kLeaveOutCaches[] = "leave out cache folders";
constexpr char kKeepDays[] = "keep replaced files for days";
// More lines than any file within kMaxTextFileBytes holds.
constexpr std::size_t kMaxLines = kMaxTextFileBytes;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

bool IsComment(const std::string& line) {
  const std::string trimmed = Trimmed(line);
  return trimmed.empty() || trimmed[0] == '#';
}

}  // namespace

std::string ProfileOptionsFolder(const std::string& program_folder) {
  return ProfilesFolder(program_folder) + "/options";
}

std::string ProfileOptionsPath(const std::string& program_folder,
                               const std::string& profile_file) {
  return ProfileOptionsFolder(program_folder) + "/" + profile_file + ".options";
}

std::string WindowOptionsPath(const std::string& program_folder) {
  return program_folder + "/options.txt";
}

OptionsRead ReadOptionsFile(Platform& files, const std::string& path) {
  OptionsRead read;
  FileInfo info;
  if (files.Stat(kWorkingFolder, path, true, &info) == ENOENT) return read;
  std::vector<std::string> lines;
  if (!ReadLines(files, path, kMaxLines, &lines, &read.error)) return read;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line == kHeader) continue;
    if (IsComment(line)) {
      read.options.kept_lines.push_back(line);
      continue;
    }
    const size_t equals = line.find('=');
    const std::string where = path + ", line " + std::to_string(i + 1) + ": ";
    if (equals == std::string::npos) {
      read.error = where + "not \"key = value\"";
      return read;
    }
    const std::string key = Trimmed(line.substr(0, equals));
    std::string value = line.substr(equals + 1);
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    if (key == kLeaveOut) {
      read.options.leave_out.push_back(value);
    } else if (key == kLeaveOutCaches) {
      const std::string flag = Trimmed(value);
      if (flag != "0" && flag != "1") {
        read.error = where + "\"" + kLeaveOutCaches + "\" is 0 or 1";
        return read;
      }
      read.options.leave_out_caches = flag == "1";
    } else if (key == kKeepDays) {
      const std::string days = Trimmed(value);
      if (days.empty() || days.size() > 5 ||
          days.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(days) > kMaxKeepDays) {
        read.error = where + "\"" + kKeepDays +
                     "\" is a number of days from 0 to " +
                     std::to_string(kMaxKeepDays);
        return read;
      }
      read.options.keep_versions_days = std::stoi(days);
    } else {
      read.options.kept_lines.push_back(line);
    }
  }
  return read;
}

bool WriteOptionsFile(Platform& files, const std::string& path,
                      const ProfileOptions& options, std::string* err) {
  std::vector<std::string> lines = {kHeader,
                                    std::string(kLeaveOutCaches) + " = " +
                                        (options.leave_out_caches ? "1" : "0")};
  // Written only when set, so that files without it stay as they were.
  if (options.keep_versions_days > 0)
    lines.push_back(std::string(kKeepDays) + " = " +
                    std::to_string(options.keep_versions_days));
  for (const std::string& pattern : options.leave_out)
    lines.push_back(std::string(kLeaveOut) + " = " + pattern);
  lines.insert(lines.end(), options.kept_lines.begin(),
               options.kept_lines.end());
  // The options folder is made on the first save; one that cannot be made
  // shows in the write's own failure.
  const int made = files.MakeFolder(kWorkingFolder, FolderOf(path));
  (void)made;
  return WriteLines(files, path, lines, err);
}

}  // namespace ferrybox
