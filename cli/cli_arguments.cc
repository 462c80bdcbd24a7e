// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_arguments.h"

#include <string_view>

#include "settings/options_file.h"

namespace ferrybox {

const char kCliUsage[] =
    "Usage: ferrybox-cli [--incremental] [--show-files] [--dry-run]\n"
    "                    [LEAVE-OUT...] SOURCE DESTINATION\n"
    "       ferrybox-cli --profile NAME [--dry-run] [LEAVE-OUT...]\n"
    "       ferrybox-cli --help | --version\n";

const char kCliHelp[] =
    "Usage: ferrybox-cli [--incremental] [--show-files] [--dry-run]\n"
    "                    [LEAVE-OUT...] SOURCE DESTINATION\n"
    "       ferrybox-cli --profile NAME [--dry-run] [LEAVE-OUT...]\n"
    "       ferrybox-cli --help | --version\n"
    "\n"
    "Backs up the folder tree SOURCE into DESTINATION, as \"Go\" does in the\n"
    "Ferrybox window.\n"
    "\n"
    "  --incremental   copy only files that are missing or differ at the\n"
    "                  destination (\"Incremental Backup\")\n"
    "  --show-files    also list every source file and destination action\n"
    "                  (both \"Show Files\" boxes)\n"
    "  --profile NAME  run a saved profile: its two folders and three boxes;\n"
    "                  NAME as the profile list shows it, \".prf\" optional;\n"
    "                  its leave-out list and cache tick come along; it\n"
    "                  can be scheduled (ferrybox-backup@NAME.timer) when\n"
    "                  NAME, escaped by systemd-escape, has at most 232\n"
    "                  characters: any name of up to 58 characters does\n"
    "  --check-attributes  also compare every file's extended attributes,\n"
    "                  ACLs and capabilities with its copy's in an\n"
    "                  incremental run (restoring into the original folder)\n"
    "  --dry-run       show the lines and summary of the run, and write\n"
    "                  nothing: no folder, copy, copy log or version\n"
    "\n"
    "LEAVE-OUT, added to a profile's own list:\n"
    "  --exclude PATTERN    leave out what PATTERN matches (repeatable)\n"
    "  --exclude-from FILE  leave out what the patterns in FILE match, one\n"
    "                       a line (blank lines and # comments skipped)\n"
    "  --exclude-caches     leave out folders tagged with CACHEDIR.TAG\n"
    "Patterns: * ? [...] within a name, ** across folders, a leading or\n"
    "inner / anchors at SOURCE, a trailing / matches folders only; no\n"
    "negation.\n"
    "\n"
    "  --keep-versions DAYS  before replacing a copy whose content may\n"
    "                  differ, keep it in DESTINATION/.ferrybox-versions for\n"
    "                  DAYS days (0 keeps none; in place of a profile's own)\n"
    "\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Standard output receives the run's messages, one per line; control\n"
    "characters in names are written as \\xHH. Standard error gives the\n"
    "reason for each failed copy, closes with the failures counted by\n"
    "reason, and shows a progress line when it is a terminal. SIGINT and\n"
    "SIGTERM stop the run within about a second (a large file in hand is\n"
    "abandoned, its earlier copy kept), even while nobody reads the\n"
    "output (what cannot be written then is dropped).\n"
    "\n"
    "Exit status: 0 the run completed and every copy succeeded; 1 at least\n"
    "one copy failed (the copy log lists them); 2 wrong arguments, an\n"
    "unknown or damaged profile (or options file), an unreadable\n"
    "--exclude-from FILE, or a run refused (empty or missing\n"
    "source, empty destination, same folder, destination in use by another\n"
    "run, a profile's folder that is not a full path); 130 stopped by\n"
    "SIGINT or SIGTERM.\n";

namespace {

bool Fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

}  // namespace

bool ParseCliArguments(const std::vector<std::string>& args,
                       CliRequest* request, std::string* error) {
  *request = CliRequest();
  std::vector<std::string> folders;
  bool has_profile = false;
  bool options_ended = false;
  bool help = false;
  bool version = false;
  std::string first_problem;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.empty() || arg[0] != '-' || arg == "-") {
      folders.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--incremental") {
      request->incremental = true;
    } else if (arg == "--show-files") {
      request->show_files = true;
    } else if (arg == "--exclude-caches") {
      request->exclude_caches = true;
    } else if (arg == "--check-attributes") {
      request->check_attributes = true;
    } else if (arg == "--dry-run") {
      request->dry_run = true;
    } else if (arg == "--exclude" || arg.starts_with("--exclude=") ||
               arg == "--exclude-from" || arg.starts_with("--exclude-from=")) {
      const bool from = arg.starts_with("--exclude-from");
      const std::string option = from ? "--exclude-from" : "--exclude";
      std::string value;
      if (arg == option) {
        if (i + 1 == args.size()) {
          if (first_problem.empty())
            first_problem =
                option + (from ? " needs a FILE" : " needs a PATTERN");
          continue;
        }
        value = args[++i];
      } else {
        value = arg.substr(option.size() + 1);
      }
      (from ? request->exclude_from : request->exclude).push_back(value);
    } else if (arg == "--keep-versions" ||
               arg.starts_with("--keep-versions=")) {
      std::string days;
      if (arg == "--keep-versions") {
        if (i + 1 == args.size()) {
          if (first_problem.empty())
            first_problem = "--keep-versions needs a number of DAYS";
          continue;
        }
        days = args[++i];
      } else {
        days = arg.substr(std::string_view("--keep-versions=").size());
      }
      if (days.empty() || days.size() > 5 ||
          days.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(days) > kMaxKeepDays) {
        if (first_problem.empty())
          first_problem = "--keep-versions takes DAYS from 0 to " +
                          std::to_string(kMaxKeepDays);
        continue;
      }
      request->keep_days = std::stoi(days);
    } else if (arg == "--profile" || arg.starts_with("--profile=")) {
      std::string name;
      if (arg == "--profile") {
        if (i + 1 == args.size()) {
          if (first_problem.empty()) first_problem = "--profile needs a NAME";
          continue;
        }
        name = args[++i];
      } else {
        name = arg.substr(std::string_view("--profile=").size());
      }
      if (has_profile && first_problem.empty()) {
        first_problem = "--profile may be given only once";
      }
      has_profile = true;
      request->profile = name;
    } else if (first_problem.empty()) {
      first_problem = "unknown option " + arg;
    }
  }

  if (help) {
    request->action = CliRequest::Action::kHelp;
    return true;
  }
  if (version) {
    request->action = CliRequest::Action::kVersion;
    return true;
  }
  if (!first_problem.empty()) return Fail(error, first_problem);

  if (has_profile) {
    if (!folders.empty() || request->incremental || request->show_files) {
      return Fail(error,
                  "--profile takes its folders and options from the profile; "
                  "give nothing else with it");
    }
    if (request->profile.empty()) return Fail(error, "--profile needs a NAME");
    request->action = CliRequest::Action::kProfile;
    return true;
  }
  if (folders.size() != 2) {
    return Fail(error, folders.size() < 2
                           ? "SOURCE and DESTINATION are both needed"
                           : "too many arguments: only SOURCE and "
                             "DESTINATION are taken");
  }
  request->action = CliRequest::Action::kRun;
  request->source = folders[0];
  request->destination = folders[1];
  return true;
}

}  // namespace ferrybox
