// SPDX-License-Identifier: GPL-3.0-or-later
// ferrybox-cli: one backup run from the command line, for cron and timers.
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cli/console_output.h"
#include "cli/run_cli.h"
#include "cli/stop_signals.h"
#include "platform/platform.h"
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
  if (!ferrybox::InstallStopSignals()) {
    std::cerr << "ferrybox-cli: cannot handle SIGINT and SIGTERM\n";
    return ferrybox::kExitRefused;
  }

  // A reader that stops reading must not keep a stop from ending the run.
  ferrybox::ConsoleOutput out_buffer(STDOUT_FILENO,
                                     ferrybox::StopSignalReceived);
  ferrybox::ConsoleOutput err_buffer(STDERR_FILENO,
                                     ferrybox::StopSignalReceived);
  std::ostream out(&out_buffer);
  std::ostream err(&err_buffer);
  ferrybox::CliContext context{out, err};
  context.out_is_terminal = isatty(STDOUT_FILENO) == 1;
  context.err_is_terminal = IsCapableTerminal(STDERR_FILENO);
  context.program_folder = [] { return ferrybox::ProgramFolder(); };
  context.stop_requested = ferrybox::StopSignalReceived;
  context.platform = &ferrybox::DefaultPlatform();

  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = ferrybox::RunCli(args, context);
  out.flush();
  err.flush();
  return status;
}
