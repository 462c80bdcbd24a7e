// SPDX-License-Identifier: GPL-3.0-or-later
// Where the settings file, the profiles folder and the copy log live.
#ifndef FERRYBOX_SETTINGS_PROGRAM_FOLDER_H_
#define FERRYBOX_SETTINGS_PROGRAM_FOLDER_H_

#include <string>

#include "platform/platform.h"

namespace ferrybox {

/// What the program folder is decided from.
struct ProgramFolderInputs {
  std::string executable;       ///< path of the running executable, or ""
  std::string xdg_config_home;  ///< $XDG_CONFIG_HOME, or "" when unset
  std::string home;             ///< the user's home folder, or ""
};

/// Whether `executable` (an absolute path) lies below one of the system
/// prefixes /usr, /usr/local, /bin, /sbin or /opt, where a package or
/// `make install` puts the programs. Compared by whole path components:
/// "/usr2/ferrybox" is not below "/usr".
bool IsInstalledExecutable(const std::string& executable);

/// The program folder, probed and made through `files`.
/// - An installed copy (IsInstalledExecutable) never keeps its files beside
///   itself, whoever runs it, root included: it uses the per-user folder.
/// - A portable copy (a build tree, a folder in the home, a USB stick) uses
///   the executable's folder when a file can be created in it, and the
///   per-user folder otherwise.
/// The per-user folder is $XDG_CONFIG_HOME/ferrybox (used only when
/// absolute) or $HOME/.config/ferrybox; missing levels are created
/// owner-only (0700). When no home is known, the executable's folder all
/// the same, or "." without one. The result never ends in "/" unless it is
/// the root.
std::string ChooseProgramFolder(Platform& files,
                                const ProgramFolderInputs& inputs);

/// ChooseProgramFolder for this process (/proc/self/exe and the
/// environment). The window program and the command-line program both
/// take their program folder from here.
std::string ProgramFolder();

}  // namespace ferrybox

#endif  // FERRYBOX_SETTINGS_PROGRAM_FOLDER_H_
