// ferrybox-cli: one backup run from the command line, for cron and timers.
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cli/run_cli.h"
#include "cli/stop_signals.h"
#include "engine/platform.h"
#include "settings/program_folder.h"

namespace {

// A terminal that understands "erase to the end of the line".
bool IsCapableTerminal(int fd) {
  const char* term = std::getenv("TERM");
  return isatty(fd) == 1 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Times of day and decimal signs in the user's format, as the window
  // program shows them.
  std::setlocale(LC_ALL, "");
  std::ios::sync_with_stdio(false);
  if (!ferrybox::InstallStopSignals()) {
    std::cerr << "ferrybox-cli: cannot handle SIGINT and SIGTERM\n";
    return ferrybox::kExitRefused;
  }

  ferrybox::CliContext context{std::cout, std::cerr};
  context.out_is_terminal = isatty(STDOUT_FILENO) == 1;
  context.err_is_terminal = IsCapableTerminal(STDERR_FILENO);
  context.program_folder = [] { return ferrybox::ProgramFolder(); };
  context.stop_requested = ferrybox::StopSignalReceived;
  context.platform = &ferrybox::DefaultPlatform();

  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = ferrybox::RunCli(args, context);
  std::cout.flush();
  return status;
}
