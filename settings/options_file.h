// SPDX-License-Identifier: GPL-3.0-or-later
// The options beyond a profile's five lines: one file per profile, and one
// for the window's current folders.
#ifndef FERRYBOX_SETTINGS_OPTIONS_FILE_H_
#define FERRYBOX_SETTINGS_OPTIONS_FILE_H_

#include <string>
#include <vector>

#include "platform/platform.h"

namespace ferrybox {

/// What an options file holds. The file is text, one setting a line as
/// "key = value" (spaces around the key are not part of it; the value is
/// everything after the "=" and the one space that follows it); blank
/// lines and lines beginning with "#" are comments. The keys:
///
///     leave out = PATTERN              one line per pattern, in order
///     leave out cache folders = 0 or 1
///     keep replaced files for days = N  0 (keep nothing) to 36500
///
/// A key this version does not know is kept, line and place among the
/// other kept lines, and written back unchanged.
/// The most days a run keeps earlier versions for: a hundred years.
inline constexpr int kMaxKeepDays = 36500;

struct ProfileOptions {
  /// The leave-out list, a pattern (or a blank or comment line) each.
  std::vector<std::string> leave_out;
  bool leave_out_caches = false;
  /// Lines of a later version (or comments), kept as they were.
  std::vector<std::string> kept_lines;
  /// For how many days a run keeps the copies it replaces; 0 keeps none.
  int keep_versions_days = 0;
  friend bool operator==(const ProfileOptions&,
                         const ProfileOptions&) = default;
};

/// An options file as read, or why it could not be.
struct OptionsRead {
  bool ok() const { return error.empty(); }
  ProfileOptions options;  ///< meaningful only when ok()
  std::string error;       ///< names the file and the problem
};

/// The folder of the profiles' options files: the profiles folder +
/// "/options". A folder, so the profile list (files only) never shows it.
std::string ProfileOptionsFolder(const std::string& program_folder);

/// The options file of the profile stored as `profile_file` (its file
/// name in the profiles folder, "home.prf"): the options folder + "/" +
/// profile_file + ".options".
std::string ProfileOptionsPath(const std::string& program_folder,
                               const std::string& profile_file);

/// The options of the window's current folders, beside the settings file:
/// the program folder + "/options.txt".
std::string WindowOptionsPath(const std::string& program_folder);

/// Reads the options file at `path`. A missing file is no error: it gives
/// no options (a profile saved by an earlier version). A file that cannot
/// be read, a line that is neither a comment nor "key = value", or a
/// value a known key cannot take is an error, so that a damaged file is
/// never taken for an empty one.
OptionsRead ReadOptionsFile(Platform& files, const std::string& path);

/// Writes `options` to `path` whole (see WriteLines), making the folder
/// that holds it when it is missing. Returns false and sets `err` when it
/// could not; the earlier file then stays as it was.
bool WriteOptionsFile(Platform& files, const std::string& path,
                      const ProfileOptions& options, std::string* err);

}  // namespace ferrybox

#endif  // FERRYBOX_SETTINGS_OPTIONS_FILE_H_
