// Where the settings file, the profiles folder and the copy log live.
#ifndef FERRYBOX_SETTINGS_PROGRAM_FOLDER_H_
#define FERRYBOX_SETTINGS_PROGRAM_FOLDER_H_

#include <string>

namespace ferrybox {

/// What the program folder is decided from.
struct ProgramFolderInputs {
  std::string executable;       ///< path of the running executable, or ""
  std::string xdg_config_home;  ///< $XDG_CONFIG_HOME, or "" when unset
  std::string home;             ///< the user's home folder, or ""
};

/// The program folder: the executable's folder when a file can be created
/// in it; otherwise the per-user folder $XDG_CONFIG_HOME/ferrybox (used
/// only when absolute) or $HOME/.config/ferrybox, created when missing.
/// When neither is known, the executable's folder all the same, or "."
/// without one. The result never ends in "/" unless it is the root.
std::string ChooseProgramFolder(const ProgramFolderInputs& inputs);

/// ChooseProgramFolder for this process (/proc/self/exe and the
/// environment). The window program and the command-line program both
/// take their program folder from here.
std::string ProgramFolder();

}  // namespace ferrybox

#endif  // FERRYBOX_SETTINGS_PROGRAM_FOLDER_H_
