// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles: named sets of the two folders and the three option boxes.
#ifndef FERRYBOX_SETTINGS_PROFILE_H_
#define FERRYBOX_SETTINGS_PROFILE_H_

#include <string>

#include "platform/platform.h"

namespace ferrybox {

/// The extension of profile files; the profile list shows every file of the
/// profiles folder whose name contains it.
inline constexpr char kProfileExtension[] = ".prf";

/// The five values of a profile, in file order. A check box state is
/// 0 clear, 1 ticked, 2 greyed.
struct Profile {
  std::string source;       ///< Text1
  std::string destination;  ///< Text2
  int check1 = 0;           ///< "Show Files" under the source list
  int check2 = 0;           ///< "Show Files" under the destination list
  int check3 = 0;           ///< "Incremental Backup"
};

/// A profile as read from disk, or why it could not be.
struct ProfileRead {
  bool ok() const { return error.empty(); }
  Profile profile;    ///< meaningful only when ok()
  std::string error;  ///< names the problem and the file; empty on success
};

/// The program folder + "/profiles".
std::string ProfilesFolder(const std::string& program_folder);

/// The file of the profile `name`: the program folder + "/profiles/" +
/// name + ".prf". `name` is used unchanged (see IsPlainProfileName).
std::string ProfilePath(const std::string& program_folder,
                        const std::string& name);

/// Reads the profile file at `path`. It must exist and hold at least five
/// lines, and each of lines 3 to 5 must give a state of 0, 1 or 2 (see
/// CheckStateFromLine); anything else is an error, so that a damaged file
/// never half-loads.
ProfileRead ReadProfile(const std::string& path);

/// Writes `profile` as five lines through `files`, the states as " 1 " (a
/// space on each side), replacing the file only once the new one is
/// complete and on the disk (see WriteLines). Returns false and sets `err`
/// when it could not.
bool WriteProfile(Platform& files, const std::string& path,
                  const Profile& profile, std::string* err);
/// WriteProfile on the system's own file system.
bool WriteProfile(const std::string& path, const Profile& profile,
                  std::string* err);

/// The state a profile line gives: blanks are skipped, the longest leading
/// number (sign, digits, decimal point, exponent) is taken and rounded to
/// the nearest whole number, halves to even; a line without a number gives
/// 0. " 1 " and "1" both give 1. Returns false when the result is not 0, 1
/// or 2.
bool CheckStateFromLine(const std::string& line, int* state);

}  // namespace ferrybox

#endif  // FERRYBOX_SETTINGS_PROFILE_H_
