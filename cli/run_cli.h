// SPDX-License-Identifier: GPL-3.0-or-later
// ferrybox-cli as a function: arguments and streams in, exit status out.
#ifndef FERRYBOX_CLI_RUN_CLI_H_
#define FERRYBOX_CLI_RUN_CLI_H_

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ferrybox {

/// Exit statuses of ferrybox-cli.
inline constexpr int kExitOk = 0;          ///< completed, no copy failed
inline constexpr int kExitCopyFailed = 1;  ///< completed, a copy failed
inline constexpr int kExitRefused = 2;     ///< bad arguments or refused run
inline constexpr int kExitStopped = 130;   ///< stopped by SIGINT or SIGTERM

/// Everything a command-line run reads and writes besides the disk.
struct CliContext {
  CliContext(std::ostream& out_stream, std::ostream& err_stream)
      : out(out_stream), err(err_stream) {}

  /// The run's lines; --help and --version print here too.
  std::ostream& out;
  /// The progress line, usage errors and explanations.
  std::ostream& err;
  /// `out` is a terminal (shares the screen with the progress line).
  bool out_is_terminal = false;
  /// `err` is a terminal: only then is the progress line shown.
  bool err_is_terminal = false;
  /// Decides the program folder (settings, profiles, copy log); asked
  /// only when a run or profile needs it.
  std::function<std::string()> program_folder;
  /// Asked by the run and its reads ahead, from any thread; true stops the
  /// run as "Stop" does. May be empty.
  std::function<bool()> stop_requested;
  /// The file system the run works on.
  Platform* platform = nullptr;
};

/// Runs one command line (the arguments after the program name) and
/// returns the exit status.
int RunCli(const std::vector<std::string>& args, const CliContext& context);

}  // namespace ferrybox

#endif  // FERRYBOX_CLI_RUN_CLI_H_
