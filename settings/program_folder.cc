// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/program_folder.h"

#include <array>
#include <string_view>

#include "platform/environment.h"
#include "platform/folder_of.h"
#include "platform/platform.h"
#include "platform/temp_name.h"

namespace ferrybox {
namespace {

// Whether a file can be created in `folder`: tried, not guessed from the
// permission bits, which a read-only mount or root's rights make
// misleading. The probe has a temporary name, so a scan skips it and a
// probe left by a killed process is known for what it is.
bool CanCreateFilesIn(Platform& files, const std::string& folder) {
  const std::string probe = folder + "/" + NewTempName();
  Handle file = -1;
  if (files.OpenForWriting(probe, WriteMode::kCreateExclusive, &file) != 0)
    return false;
  files.Close(file);
  files.Remove(kWorkingFolder, probe);
  return true;
}

std::string UserConfigFolder(const ProgramFolderInputs& inputs) {
  if (!inputs.xdg_config_home.empty() && inputs.xdg_config_home[0] == '/')
    return inputs.xdg_config_home + "/ferrybox";
  if (!inputs.home.empty()) return inputs.home + "/.config/ferrybox";
  return "";
}

}  // namespace

bool IsInstalledExecutable(const std::string& executable) {
  // "/usr/" covers /usr/local as well.
  static constexpr std::array<std::string_view, 4> kSystemPrefixes = {
      "/usr/", "/bin/", "/sbin/", "/opt/"};
  for (std::string_view prefix : kSystemPrefixes) {
    if (executable.starts_with(prefix)) return true;
  }
  return false;
}

std::string ChooseProgramFolder(Platform& files,
                                const ProgramFolderInputs& inputs) {
  // An executable the system could not name has no folder.
  const std::string executable_folder =
      inputs.executable.empty() ? "" : FolderOf(inputs.executable);
  // Root may write into /usr/bin, but an installed program must not fill
  // it with settings, profiles and copy logs.
  if (!executable_folder.empty() && !IsInstalledExecutable(inputs.executable) &&
      CanCreateFilesIn(files, executable_folder))
    return executable_folder;
  const std::string config_folder = UserConfigFolder(inputs);
  if (!config_folder.empty()) {
    // A folder that cannot be made is still the right place: start-up
    // then finds no settings and a save reports its failure.
    // Owner-only, as the XDG rules ask for configuration folders: the
    // profiles name the user's folders and the copy log names their files.
    MakeMissingLevels(files, config_folder, true);
    return config_folder;
  }
  return executable_folder.empty() ? "." : executable_folder;
}

std::string ProgramFolder() {
  return ChooseProgramFolder(
      DefaultPlatform(),
      {ExecutablePath(), Environment("XDG_CONFIG_HOME"), HomeFolder()});
}

}  // namespace ferrybox
