#include "settings/program_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace ferrybox {
namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Whether a file can be created in `folder`: tried, not guessed from the
// permission bits, which a read-only mount or root's rights make
// misleading.
bool CanCreateFilesIn(const std::string& folder) {
  std::string probe = folder + "/.ferrybox-probe-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

std::string UserConfigFolder(const ProgramFolderInputs& inputs) {
  if (!inputs.xdg_config_home.empty() && inputs.xdg_config_home[0] == '/')
    return inputs.xdg_config_home + "/ferrybox";
  if (!inputs.home.empty()) return inputs.home + "/.config/ferrybox";
  return "";
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

}  // namespace

std::string ChooseProgramFolder(const ProgramFolderInputs& inputs) {
  const std::string executable_folder = FolderOf(inputs.executable);
  if (!executable_folder.empty() && CanCreateFilesIn(executable_folder))
    return executable_folder;
  const std::string config_folder = UserConfigFolder(inputs);
  if (!config_folder.empty()) {
    // A folder that cannot be made is still the right place: start-up
    // then finds no settings and a save reports its failure.
    std::error_code ec;
    std::filesystem::create_directories(config_folder, ec);
    return config_folder;
  }
  return executable_folder.empty() ? "." : executable_folder;
}

std::string ProgramFolder() {
  ProgramFolderInputs inputs;
  std::error_code ec;
  const std::filesystem::path executable =
      std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) inputs.executable = executable.string();
  inputs.xdg_config_home = Environment("XDG_CONFIG_HOME");
  inputs.home = Environment("HOME");
  if (inputs.home.empty()) {
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr)
      inputs.home = entry->pw_dir;
  }
  return ChooseProgramFolder(inputs);
}

}  // namespace ferrybox
