// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/run_cli.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "cli/cli_arguments.h"
#include "cli/console_window.h"
#include "cli/progress_line.h"
#include "engine/backup_run.h"
#include "engine/copy_log.h"
#include "engine/message_lists.h"
#include "settings/options_file.h"
#include "settings/profile.h"
#include "settings/profile_name.h"
#include "settings/profiles_folder.h"
#include "settings/text_file.h"
#include "settings/version.h"

namespace ferrybox {
namespace {

// The last line of a dry run's summary.
constexpr char kDryRunLine[] = "dry run: nothing was written";

// One message on standard error, one line whatever the paths in it hold.
void Say(std::ostream& err, const std::string& text) {
  err << kCliPrefix << OneLine(text) << "\n";
}

// A run takes full paths only. A folder named on the command line is
// relative to the working folder, as in the shell: it is joined to it as
// written, leaving links and ".." for the file system. Unchanged when the
// working folder is unknown (removed): the run then refuses it.
std::string FullPath(const std::string& folder) {
  if (folder.empty() || folder[0] == '/') return folder;
  char* cwd = ::getcwd(nullptr, 0);
  if (cwd == nullptr) return folder;
  std::string full = cwd;
  std::free(cwd);
  if (full.back() != '/') full += '/';
  return full + folder;
}

// A name as the profile list shows it ("work.prf", "old.prf.bak") names
// that file; any other name gets ".prf" added, as a save adds it.
bool FindProfile(Platform& platform, const std::string& program_folder,
                 const std::string& name, std::string* path,
                 std::string* error) {
  if (!IsPlainProfileName(name)) {
    *error = "\"" + name + "\" is not a profile name";
    return false;
  }
  const std::string as_listed = ProfilesFolder(program_folder) + "/" + name;
  if (name.find(kProfileExtension) != std::string::npos &&
      FileExists(platform, as_listed)) {
    *path = as_listed;
    return true;
  }
  *path = ProfilePath(program_folder, name);
  if (!FileExists(platform, *path)) {
    *error = "no profile \"" + name + "\" in " + ProfilesFolder(program_folder);
    return false;
  }
  return true;
}

// Adds the command line's leave-out options to `options` (a profile's own,
// or none). False, with the reason in `error`, when a --exclude-from file
// cannot be read.
bool AddLeaveOut(Platform& platform, const CliRequest& request,
                 LeaveOutOptions* options, std::string* error) {
  for (const std::string& file : request.exclude_from) {
    std::vector<std::string> lines;
    if (!ReadLines(platform, file, kMaxTextFileBytes, &lines, error))
      return false;
    options->patterns.insert(options->patterns.end(), lines.begin(),
                             lines.end());
  }
  options->patterns.insert(options->patterns.end(), request.exclude.begin(),
                           request.exclude.end());
  options->cache_folders = options->cache_folders || request.exclude_caches;
  return true;
}

// The closing summary of `outcome` on standard error; returns the exit
// status.
int Summarize(const RunOutcome& outcome, const ConsoleWindow& window,
              const ConsoleBoxes& boxes, const std::string& program_folder,
              bool dry_run, std::ostream& err) {
  // Output dropped because a stop could not wait for it is no news.
  if (window.output_failed() && !outcome.stopped)
    Say(err, "standard output could not be written; the backup went on");
  if (outcome.refused()) {
    Say(err, "refused: " + RefusalLine(outcome.refusal, boxes.text1));
    return kExitRefused;
  }
  if (outcome.left_out > 0) Say(err, LeftOutLine(outcome.left_out));
  const FailureTally& failures = window.failures();
  if (failures.count() > 0)
    Say(err, dry_run ? failures.DryRunSummary()
                     : failures.Summary(CopyLogPath(program_folder)));
  for (const std::string& file : outcome.abandoned_files) {
    const bool first = std::find(outcome.abandoned_without_copy.begin(),
                                 outcome.abandoned_without_copy.end(),
                                 file) != outcome.abandoned_without_copy.end();
    Say(err, "stopped during the copy of " + file + ", which was broken off: " +
                 (first ? "the backup holds no copy of it yet"
                        : "its earlier copy stays"));
  }
  if (!outcome.abandoned_files.empty()) return kExitStopped;
  if (outcome.stopped) {
    Say(err, "stopped before the last file");
    return kExitStopped;
  }
  return outcome.failed_copies > 0 ? kExitCopyFailed : kExitOk;
}

int Run(const ConsoleBoxes& boxes, const std::string& program_folder,
        bool dry_run, const CliContext& context) {
  Platform& platform = *context.platform;
  ProgressLine progress(context.err, context.err_is_terminal);
  ConsoleWindow window(boxes, context.out, context.out_is_terminal, context.err,
                       progress);
  MessageLists lists(window);
  BackupRun run(
      window, lists, platform, program_folder,
      RunOptions{.stop_requested = context.stop_requested, .dry_run = dry_run});
  run.Command3_Click();
  window.Finish();
  const int status = Summarize(run.LastOutcome(), window, boxes, program_folder,
                               dry_run, context.err);
  if (dry_run) Say(context.err, kDryRunLine);
  return status;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, const CliContext& context) {
  CliRequest request;
  std::string error;
  if (!ParseCliArguments(args, &request, &error)) {
    Say(context.err, error);
    context.err << kCliUsage;
    return kExitRefused;
  }
  switch (request.action) {
    case CliRequest::Action::kHelp:
      context.out << kCliHelp << std::flush;
      return kExitOk;
    case CliRequest::Action::kVersion:
      context.out << ProgramVersionText() << "\n" << std::flush;
      return kExitOk;
    case CliRequest::Action::kRun: {
      ConsoleBoxes boxes;
      boxes.text1 = FullPath(request.source);
      boxes.text2 = FullPath(request.destination);
      boxes.check1 = boxes.check2 = request.show_files ? 1 : 0;
      boxes.check3 = request.incremental ? 1 : 0;
      boxes.keep_days = request.keep_days.value_or(0);
      boxes.check_attributes = request.check_attributes;
      if (!AddLeaveOut(*context.platform, request, &boxes.leave_out, &error)) {
        Say(context.err, error);
        return kExitRefused;
      }
      return Run(boxes, context.program_folder(), request.dry_run, context);
    }
    case CliRequest::Action::kProfile:
      break;
  }

  const std::string program_folder = context.program_folder();
  std::string path;
  if (!FindProfile(*context.platform, program_folder, request.profile, &path,
                   &error)) {
    Say(context.err, error);
    return kExitRefused;
  }
  const ProfileRead read = ReadProfile(path);
  if (!read.ok()) {
    Say(context.err, read.error);
    return kExitRefused;
  }
  ConsoleBoxes boxes;
  boxes.text1 = read.profile.source;
  boxes.text2 = read.profile.destination;
  boxes.check1 = read.profile.check1;
  boxes.check2 = read.profile.check2;
  boxes.check3 = read.profile.check3;
  boxes.check_attributes = request.check_attributes;
  // The profile's own options live in a file of their own beside it.
  const std::string profile_file = path.substr(path.rfind('/') + 1);
  const OptionsRead options = ReadOptionsFile(
      *context.platform, ProfileOptionsPath(program_folder, profile_file));
  if (!options.ok()) {
    Say(context.err, options.error);
    return kExitRefused;
  }
  boxes.leave_out = {options.options.leave_out,
                     options.options.leave_out_caches};
  boxes.keep_days =
      request.keep_days.value_or(options.options.keep_versions_days);
  if (!AddLeaveOut(*context.platform, request, &boxes.leave_out, &error)) {
    Say(context.err, error);
    return kExitRefused;
  }
  return Run(boxes, program_folder, request.dry_run, context);
}

}  // namespace ferrybox
