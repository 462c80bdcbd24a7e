// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of ferrybox-cli.
#ifndef FERRYBOX_CLI_CLI_ARGUMENTS_H_
#define FERRYBOX_CLI_CLI_ARGUMENTS_H_

#include <optional>
#include <string>
#include <vector>

namespace ferrybox {

/// The three accepted forms, one line each, for usage errors and --help.
extern const char kCliUsage[];
/// The whole --help text (usage, options, exit status).
extern const char kCliHelp[];

/// What one command line asks for.
struct CliRequest {
  enum class Action { kRun, kProfile, kHelp, kVersion };
  Action action = Action::kRun;
  /// kRun: the two folders as given (they play the source and destination
  /// folder boxes) and the three option boxes.
  std::string source;
  std::string destination;
  bool incremental = false;
  bool show_files = false;
  /// kProfile: the profile name as given.
  std::string profile;
  /// Either action: what to leave out, besides a profile's own list:
  /// --exclude patterns and --exclude-from files, in the order given, and
  /// --exclude-caches.
  std::vector<std::string> exclude;
  std::vector<std::string> exclude_from;
  bool exclude_caches = false;
  /// --keep-versions DAYS, in place of a profile's own; empty when not
  /// given.
  std::optional<int> keep_days;
  /// Either action: --check-attributes, an incremental run that compares
  /// every file's attributes with its copy's.
  bool check_attributes = false;
  /// Either action: --dry-run, a run that shows what it would do and
  /// writes nothing.
  bool dry_run = false;
};

/// Parses the arguments that follow the program name. Options may come
/// before, between or after the two folders; "--" ends the options, so a
/// folder whose name begins with "-" can be named. "--help" or "--version"
/// anywhere before "--" wins over everything else. Returns false, with a
/// one-line explanation in `error`, when the arguments form none of the
/// accepted commands.
bool ParseCliArguments(const std::vector<std::string>& args,
                       CliRequest* request, std::string* error);

}  // namespace ferrybox

#endif  // FERRYBOX_CLI_CLI_ARGUMENTS_H_
