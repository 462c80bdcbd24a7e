// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/backup_run.h"

#include <errno.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

#include "engine/copy_log.h"
#include "engine/file_copy.h"
#include "engine/flush.h"
#include "engine/version_keeper.h"
#include "platform/environment.h"
#include "platform/scoped_handle.h"

namespace ferrybox {
namespace {

constexpr int kFilesPerUpdate = 100;
// Subfolders of the source walked ahead during the scan.
constexpr int kFoldersAhead = 4;
constexpr std::chrono::milliseconds kPauseSleep{3};
// The longest the copying goes without handling the window's events, so that
// "Stop", "Pause Copying", "Exit" and closing the window act within moments
// between the progress updates and during one big file.
constexpr std::chrono::milliseconds kEventInterval{250};
// How long the run waits for a copy at a time before it looks at the window.
constexpr std::chrono::milliseconds kWaitSlice{50};
// The most files decided whose lines wait to be shown behind a copy.
constexpr size_t kDecidedAhead = 64;

double MonotonicSeconds() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// printf follows the locale's decimal sign.
std::string Formatted(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// The status of the source file `path`: read ahead when that can be
// trusted (a file gone since it was read ahead is no surprise; any other
// failure may have passed since), otherwise read now.
int SourceStatus(FileSync& sync, const std::string& path,
                 const AheadStatus* read, FileInfo* source) {
  if (read == nullptr || !read->source_read ||
      (read->source_error != 0 && read->source_error != ENOENT))
    return sync.StatSource(path, source);
  *source = read->source;
  return read->source_error;
}

// True when the folder `id` is one of the folders above `path` as the system
// reaches it (links followed, ".." the parent of the folder reached): a
// source inside the destination, however either is written.
bool IsAncestor(Platform& platform, const FileId& id, const std::string& path) {
  ScopedHandle folder(platform);
  if (platform.Open(kWorkingFolder, path, OpenMode::kFolder, folder.out()) != 0)
    return false;
  FileInfo info;
  if (platform.Stat(folder.get(), "", true, &info) != 0) return false;
  for (;;) {
    ScopedHandle parent(platform);
    FileInfo above;
    if (platform.Open(folder.get(), "..", OpenMode::kFolder, parent.out()) !=
            0 ||
        platform.Stat(parent.get(), "", true, &above) != 0)
      return false;
    if (above.id == info.id) return false;  // the top: ".." is itself
    if (above.id == id) return true;
    folder.reset(parent.release());
    info = above;
  }
}

}  // namespace

BackupRun::BackupRun(Window& window, MessageLists& lists, Platform& platform,
                     std::string program_folder, RunOptions options)
    : window_(window),
      lists_(lists),
      platform_(platform),
      copy_log_path_(CopyLogPath(program_folder)),
      clock_(options.clock ? std::move(options.clock) : MonotonicSeconds),
      stop_requested_(std::move(options.stop_requested)),
      look_ahead_(options.look_ahead),
      copies_(options.copies),
      dry_run_(options.dry_run) {}

void BackupRun::Command2_Click() { stop_flag_ = true; }

bool BackupRun::Going() {
  if (!stop_flag_ && stop_requested_ && stop_requested_()) stop_flag_ = true;
  return !stop_flag_ && !abandoned_;
}

void BackupRun::Command11_Click() {
  // With no run to hold, a click would leave the button offering to resume
  // a run that does not exist ("Go" clears the flag anyway).
  if (depth_ == 0) return;
  pause_flag_ = !pause_flag_;
  pause_gate_.Set(pause_flag_);
  window_.ShowPaused(pause_flag_);
}

void BackupRun::Abandon() { abandoned_ = true; }

std::string RefusalLine(RunRefusal refusal, const std::string& source_root) {
  switch (refusal) {
    case RunRefusal::kNone:
      return {};
    case RunRefusal::kSourceNotFullPath:
      return kSourceNotFullPath;
    case RunRefusal::kDestinationNotFullPath:
      return kDestinationNotFullPath;
    case RunRefusal::kNoSourceFolder:
      return kNoSourceFolder;
    case RunRefusal::kSourceFolderNotFound:
      return kSourceFolderNotFound + source_root;
    case RunRefusal::kNoDestinationFolder:
      return kNoDestinationFolder;
    case RunRefusal::kSameFolder:
      return kSameFolder;
    case RunRefusal::kSourceInsideDestination:
      return kSourceInsideDestination;
    case RunRefusal::kDestinationInUse:
      return kDestinationInUse;
  }
  return {};
}

RunRefusal BackupRun::Refusal(const std::string& source_root,
                              const std::string& destination_root,
                              DestinationRoot* destination, ScanOptions* scan) {
  // A relative folder would be taken from wherever the program happened to
  // start; a stray leading space in a box must not create folders there.
  if (!source_root.empty() && source_root[0] != '/')
    return RunRefusal::kSourceNotFullPath;
  if (!destination_root.empty() && destination_root[0] != '/')
    return RunRefusal::kDestinationNotFullPath;
  if (source_root.empty()) return RunRefusal::kNoSourceFolder;
  FileInfo source;
  if (platform_.Stat(kWorkingFolder, source_root, true, &source) != 0 ||
      source.type != EntryType::kFolder)
    return RunRefusal::kSourceFolderNotFound;
  if (destination_root.empty()) return RunRefusal::kNoDestinationFolder;
  // Checked as the run will reach it, so that "SRC/new/.." is SRC. A root
  // still to be made is checked again for its lock when it is made. A stop
  // meanwhile leaves it unreached, and the scan then ends at once.
  const std::function<bool()> keep_going = [this] {
    window_.KeepAlive();
    return Going();
  };
  destination->Resolve(destination_root, &keep_going);
  if (destination->state() != 0) return RunRefusal::kNone;
  if (destination->id() == source.id) return RunRefusal::kSameFolder;
  if (IsAncestor(platform_, destination->id(), source_root))
    return RunRefusal::kSourceInsideDestination;
  scan->skip_folder = destination->id();
  scan->has_skip_folder = true;
  // A dry run writes nothing, and holds no other run back.
  if (!dry_run_ && destination->Lock() != 0)
    return RunRefusal::kDestinationInUse;
  return RunRefusal::kNone;
}

void BackupRun::StartLookAhead(FileSync& sync,
                               const std::vector<std::string>& files,
                               std::optional<LookAhead>* ahead) {
  if (look_ahead_ <= 0 || files.size() < 2) return;
  // A stop ends the reads at once, while the run still finishes its file.
  ahead->emplace(
      platform_, files,
      sync.RootsForLookAhead(window_.CheckValue(CheckBox::kCheck3) == 1),
      look_ahead_, [this] { return Going(); });
  if (!(*ahead)->Start()) ahead->reset();
}

void BackupRun::FinishOnDisk(FileSync& sync, const std::string& source_root,
                             const std::string& destination_root,
                             EarlyFlush* early) {
  // Finished means on the disk, for a stopped run too: a drive unplugged
  // after the closing line holds every copy the run reported. A stopped
  // run finishes only the folders that safety needs.
  sync.FinishFolders(stop_flag_);
  if (early != nullptr) early->Stop();
  const Handle root = sync.DestinationRootHandle();
  int error =
      root == kNoHandle ? 0 : FlushToDisk(platform_, root, window_, abandoned_);
  // A failure an early flush met, this one does not meet again. An early
  // flush under way has ended with this one, which waited for all it wrote.
  const int early_error = early != nullptr && !abandoned_ ? early->Finish() : 0;
  if (error == 0) error = early_error;
  if (error != 0 && !abandoned_)
    sync.CopyFailed(source_root, destination_root, error);
}

std::string LeftOutLine(int64_t count) {
  return "Left out: " + std::to_string(count) + " files and folders";
}

void BackupRun::ShowFigures(double elapsed, bool closing) {
  // Rounded only here: every byte counts, files under 500 bytes too.
  const double megabytes = static_cast<double>(bytes_total_) / 1000 / 1024;
  window_.SetFigure(FigureBox::kText5, Formatted("%.0f", megabytes) + "Mb");
  // No time passed: the rate cannot be computed, and keeps its old text.
  if (elapsed > 0) {
    window_.SetFigure(
        FigureBox::kText6,
        Formatted("%.0f", megabytes / elapsed) + (closing ? "Mb per Sec" : ""));
  }
}

// What one run keeps from its start to its closing line. A nested run has
// its own; the members are destroyed in the reverse of this order.
struct BackupRun::RunState {
  explicit RunState(BackupRun& run)
      : destination(run.platform_, run.held_roots_) {}

  // Held until the run ends, so that no run starting meanwhile empties it.
  std::optional<CopyLogClaim> copy_log;
  std::string source_root;
  std::string destination_root;
  RunOutcome outcome;
  std::vector<std::string> files;
  DestinationRoot destination;
  std::optional<FileSync> sync;
  int64_t file_count = 0;
  int update_count = 0;
  // When the window's events were last handled.
  std::chrono::steady_clock::time_point events_handled;
  // The run's one stop value, and the questions asked of it: below the run
  // (folders, case checks, between the chunks of a copy, where a pause
  // holds the copy too), and by the run itself while it waits, which also
  // handles the window's events and waits while paused.
  std::stop_source stop;
  std::function<bool()> keep_going;
  CopyControl copy_control;
  LeaveOutList leave_out;
  // Keeps what the copies replace, for the run's days; before `copies`,
  // which it outlives.
  int keep_days = 0;
  std::optional<VersionKeeper> versions;
  std::function<bool()> while_waiting;
  double start_time = 0;
  std::optional<LookAhead> ahead;
  // Started with the first copy, ended by the flush at the end.
  std::optional<EarlyFlush> early_flush;
  // Decisions no longer made: a stop, or the destination lost.
  bool ended = false;
  // The files decided and not yet taken back, in file order; whether the
  // first has been shown whole.
  std::deque<std::unique_ptr<FileDecision>> decided;
  bool front_shown = false;
  // Whether the first was shown as begun (its List1 line, Text3).
  bool front_begun = false;
  // Destroyed first: its copies in flight end before what they use.
  std::optional<CopyPipeline> copies;
};

void BackupRun::Command3_Click() {
  ++depth_;
  RunState run(*this);
  StartRun(run);
  for (size_t index = 0; index < run.files.size(); ++index)
    if (!DecideOne(run, index)) break;
  TakeResults(run, /*all=*/true);
  FinishRun(run);
  if (--depth_ == 0 && pause_flag_) {
    // Nothing is left to resume.
    pause_flag_ = false;
    pause_gate_.Set(false);
    window_.ShowPaused(false);
  }
}

bool BackupRun::Stopped(RunState& run) {
  if (!Going()) run.stop.request_stop();
  return run.stop.stop_requested();
}

void BackupRun::StartRun(RunState& run) {
  ResetForRun(run);
  CollectFiles(run);
  // Events are handled before the first file (the clicks and keys the scan
  // held back), at every progress update, and besides whenever
  // kEventInterval has passed since they last were, between files and
  // while the run waits for a copy; those extra rounds show no figures.
  if (!run.outcome.refused() && !abandoned_) window_.ProcessEvents();
  run.events_handled = std::chrono::steady_clock::now();
  run.keep_going = [this, &run] { return !Stopped(run); };
  // A stop during a big file breaks its copy off, the earlier copy kept
  // (a small one ends within its next chunk); a pause holds it.
  run.copy_control.keep_going = [this, &run] {
    pause_gate_.Pass([this, &run] { return Stopped(run); });
    return !Stopped(run);
  };
  // A stop while the run waits for a file read ahead ends the run.
  run.while_waiting = [this, &run] {
    HandleEventsWhenDue(run);
    WaitWhilePaused(run);
    return !Stopped(run);
  };
  if (run.sync) {
    run.sync->SetKeepGoing(&run.keep_going);
    run.sync->SetCollected(&run.files, &run.while_waiting);
  }
  run.copies.emplace(platform_, &run.copy_control, copies_);
  run.start_time = clock_();
  if (run.sync) StartLookAhead(*run.sync, run.files, &run.ahead);
}

void BackupRun::ResetForRun(RunState& run) {
  stop_flag_ = false;
  pause_flag_ = false;
  window_.ShowPaused(false);
  lists_.lp3("Starting copy: " + TimeOfDayText());
  lists_.lp3("Please wait...");
  bytes_total_ = 0;
  window_.SetFigure(FigureBox::kText4, "0");
  sync_state_.FilesCopied = 0;
  window_.SetFigure(FigureBox::kText5, "0");
  window_.SetFigure(FigureBox::kText6, "0");
  window_.SetFigure(FigureBox::kText3, "0");
  window_.ScanStarted();
  lists_.ClearFileLists();
  if (!dry_run_) run.copy_log.emplace(platform_, copy_log_path_);
  sync_state_.LastCheckedFolder.clear();
}

void BackupRun::CollectFiles(RunState& run) {
  // The roots are read once: typing in the boxes during the run, or loading
  // a profile, must not send the rest of the files elsewhere.
  run.source_root = window_.Text1();
  run.destination_root = window_.Text2();
  // "Please wait...", the emptied lists and the zeroed figures are seen
  // before the scan, which on a big tree or a slow drive takes long.
  window_.KeepAlive();
  ScanOptions scan;
  run.outcome.refusal =
      Refusal(run.source_root, run.destination_root, &run.destination, &scan);
  if (run.outcome.refused()) {
    lists_.lp3(RefusalLine(run.outcome.refusal, run.source_root));
  } else {
    std::optional<FileSync>& sync = run.sync;
    sync.emplace(platform_, window_, lists_, sync_state_, run.source_root,
                 run.destination_root, run.destination, copy_log_path_);
    if (dry_run_) sync->SetDryRun();
    run.keep_days = window_.KeepVersionsDays();
    if (run.keep_days > 0 && !dry_run_) {
      run.versions.emplace(platform_, SecondsSinceEpoch());
      sync->SetVersionKeeper(&*run.versions);
    }
    scan.on_error = [&sync](const std::string& path, int error) {
      sync->CopyFailed(path, sync->DestinationPath(path), error);
    };
    // Hardly any user input during the scan: a click would be handled with
    // half the files collected. "Stop", "Exit", closing the window and a
    // signal (the command-line program's) still come through; each ends the
    // scan at once.
    scan.keep_alive = [this] {
      window_.KeepAlive();
      return Going();
    };
    run.leave_out = LeaveOutList(window_.LeaveOut());
    if (!run.leave_out.empty()) {
      scan.leave_out = &run.leave_out;
      scan.on_left_out = [&run](const std::string&) { ++run.outcome.left_out; };
    }
    // A backup run the other way round (to restore) never copies the
    // history back: it is the backup's own, and shown nowhere.
    scan.has_skip_versions =
        FindMarkedVersions(platform_, run.source_root, &scan.skip_versions);
    // The next subfolders are walked ahead as files are read ahead.
    scan.read_ahead = look_ahead_ > 0 ? kFoldersAhead : 0;
    std::string folder = run.source_root;
    std::vector<SourceFolder> source_folders;
    scan.folder_ids = &source_folders;
    RecursiveDir(platform_, run.files, folder, scan);
    // A destination folder that is one of these is never written in.
    run.destination.SetSourceFolders(std::move(source_folders));
    if (!Going()) {
      run.files.clear();
      run.outcome.stopped = true;
    }
  }
  // Folders collected for themselves (they hold nothing to copy) are no
  // files.
  run.outcome.files_collected = static_cast<int64_t>(std::count_if(
      run.files.begin(), run.files.end(),
      [](const std::string& path) { return !FileSync::IsFolderPath(path); }));
  if (!run.outcome.refused())
    window_.CopyingStarted(run.outcome.files_collected);
}

bool BackupRun::DecideOne(RunState& run, size_t index) {
  // One copy at a time: each file is taken back before the next is begun.
  if (run.copies->copies() == 1) TakeResults(run, /*all=*/true);
  if (!MayBegin(run)) return false;
  const std::string& path = run.files[index];
  const AheadStatus* read = nullptr;
  if (run.ahead) {
    read = run.ahead->Take(index, run.while_waiting);
    if (read == nullptr) {
      run.outcome.stopped = !abandoned_;
      return false;
    }
  }
  // With no earlier file still to show, the file is shown as begun at
  // once, while the run decides it (on a share that takes a while).
  if (run.decided.empty()) ShowBegun(run, path);
  FileSync& sync = *run.sync;
  FileInfo source;
  int error = 0;
  if (!FileSync::IsFolderPath(path))
    error = SourceStatus(sync, path, read, &source);
  if (!run.decided.empty()) {
    // A folder the run leaves is finished only when no copy into it is in
    // flight; a further name of a file is decided on its group as the
    // copies before it left it; a name in a folder that ignores case, once
    // the drive has seen the copies before it.
    if ((error == 0 && FileSync::InLinkGroup(source)) ||
        sync.LeavesFolders(path) || sync.JudgedByTheDrive(path))
      TakeResults(run, /*all=*/true);
    MakeRoom(run);
    // The waits handled the window: a pause or a stop clicked there holds
    // or ends the run before this file.
    if (run.ended || !MayBegin(run)) return false;
    if (run.decided.empty()) ShowBegun(run, path);
  }
  run.decided.push_back(std::make_unique<FileDecision>(
      sync.Decide(path, error, source, read, index)));
  FileDecision& decision = *run.decided.back();
  if (decision.copy) {
    run.copies->Submit(&*decision.copy);
    if (!run.early_flush && !dry_run_ &&
        sync.DestinationRootHandle() != kNoHandle)
      run.early_flush.emplace(platform_, sync.DestinationRootHandle());
  }
  if (decision.outcome == FileOutcome::kLeftByStop ||
      decision.outcome == FileOutcome::kDestinationLost)
    run.ended = true;
  TakeResults(run, /*all=*/false);
  HandleEventsWhenDue(run);
  return !run.ended;
}

bool BackupRun::MayBegin(RunState& run) {
  if (abandoned_) return false;
  WaitWhilePaused(run);
  if (abandoned_) return false;
  if (Stopped(run)) {
    run.outcome.stopped = true;
    return false;
  }
  return true;
}

void BackupRun::MakeRoom(RunState& run) {
  for (;;) {
    TakeResults(run, /*all=*/false);
    if (run.ended) return;
    if (run.decided.size() < kDecidedAhead && run.copies->HasRoom()) return;
    if (pause_flag_) {
      // Paused, the run takes nothing back until resumed or stopped.
      WaitWhilePaused(run);
      if (!Going()) return;
    } else if (!run.copies->WaitForRoom(kWaitSlice)) {
      HandleEventsWhenDue(run);
    }
  }
}

void BackupRun::TakeResults(RunState& run, bool all) {
  if (all && !run.decided.empty())
    while (!run.copies->WaitForAll(kWaitSlice)) HandleEventsWhenDue(run);
  while (!run.decided.empty()) {
    // Paused, the run shows no more files, even those already copied.
    if (!all && pause_flag_) return;
    FileDecision& front = *run.decided.front();
    const bool done =
        !front.copy ||
        run.copies->WaitFor(*front.copy, std::chrono::milliseconds(0));
    if (done && front.copy && !front.copy->outcome.begun && !run.front_shown) {
      // Handed over, and a stop came before its copy was begun: the run
      // ended before this file.
      run.decided.pop_front();
      run.front_begun = false;
      run.outcome.stopped = true;
      continue;
    }
    ShowFront(run);
    if (!all && !done) return;
    TakeFront(run);
  }
}

void BackupRun::ShowFront(RunState& run) {
  if (run.front_shown || abandoned_) return;
  run.front_shown = true;
  const FileDecision& decision = *run.decided.front();
  if (!run.front_begun) ShowBegun(run, decision.source_path);
  run.sync->Show(decision);
}

void BackupRun::ShowBegun(RunState& run, const std::string& path) {
  run.front_begun = true;
  if (FileSync::IsFolderPath(path)) return;
  ++run.file_count;
  ++run.update_count;
  window_.SetCount(FigureBox::kText3, run.file_count);
  window_.FileStarted({run.outcome.files_collected, run.file_count,
                       sync_state_.FilesCopied, bytes_total_});
  lists_.lp1(path);
}

void BackupRun::TakeFront(RunState& run) {
  std::unique_ptr<FileDecision> decision = std::move(run.decided.front());
  run.decided.pop_front();
  // A copy in flight ends: a small one with its last chunk, a large one
  // broken off by a stop.
  while (decision->copy && !run.copies->WaitFor(*decision->copy, kWaitSlice))
    HandleEventsWhenDue(run);
  const bool shown = run.front_shown;
  run.front_shown = false;
  run.front_begun = false;
  if (!shown) return;
  // The program ending still names the copies it broke off.
  const int error = abandoned_
                        ? decision->copy ? decision->copy->outcome.error : 0
                        : run.sync->TakeResult(*decision);
  const FileOutcome outcome = decision->outcome;
  if (outcome == FileOutcome::kLeftByStop) {
    run.outcome.stopped = true;  // not begun, the last file too
    return;
  }
  if (error == kErrorStopped) {
    // Whichever file it was, the last too, the run did not finish.
    run.outcome.stopped = true;
    run.outcome.abandoned_files.push_back(decision->source_path);
    if (!decision->replaces)
      run.outcome.abandoned_without_copy.push_back(decision->source_path);
    run.ended = true;
    return;
  }
  if (abandoned_) return;
  if (outcome == FileOutcome::kFolder) {
    HandleEventsWhenDue(run);
    return;
  }
  if (outcome == FileOutcome::kDestinationLost) {
    if (!FileSync::IsFolderPath(decision->source_path))
      bytes_total_ += decision->source.size;
    LostDestination(run);
    return;
  }
  if (outcome != FileOutcome::kUnreadable)
    bytes_total_ +=
        decision->copy && decision->copy->job.kind != CopyKind::kLink
            ? decision->copy->outcome.source.size
            : decision->source.size;
  if (run.update_count > kFilesPerUpdate) {
    ShowFigures(clock_() - run.start_time, false);
    run.update_count = 0;
    window_.ProcessEvents();
    run.events_handled = std::chrono::steady_clock::now();
  } else {
    HandleEventsWhenDue(run);
  }
}

bool BackupRun::LostDestination(RunState& run) {
  if (!run.sync->DestinationInUse()) return false;
  run.ended = true;
  run.outcome.refusal = RunRefusal::kDestinationInUse;
  lists_.lp3(RefusalLine(run.outcome.refusal, run.source_root));
  return true;
}

void BackupRun::HandleEventsWhenDue(RunState& run) {
  const auto now = std::chrono::steady_clock::now();
  if (now - run.events_handled < kEventInterval) return;
  window_.ProcessEvents();
  run.events_handled = std::chrono::steady_clock::now();
}

void BackupRun::WaitWhilePaused(RunState& run) {
  // "Pause Copying" holds the run, before its next file or between the
  // chunks of a big file, until "Resume Copying", "Stop" or the end.
  while (pause_flag_ && Going()) {
    std::this_thread::sleep_for(kPauseSleep);
    window_.ProcessEvents();
    run.events_handled = std::chrono::steady_clock::now();
  }
}

void BackupRun::FinishRun(RunState& run) {
  // Reads still under way end while the run finishes on the disk; every
  // copy has ended.
  if (run.ahead) run.ahead->Stop();
  run.copies.reset();
  if (run.sync && !abandoned_ && !dry_run_ && !run.sync->DestinationInUse())
    FinishOnDisk(*run.sync, run.source_root, run.destination_root,
                 run.early_flush ? &*run.early_flush : nullptr);
  run.ahead.reset();
  RunOutcome& outcome = run.outcome;
  if (abandoned_) {
    outcome.stopped = true;
  } else {
    const double elapsed = clock_() - run.start_time;
    ShowFigures(elapsed, true);
    if (run.versions && !outcome.stopped && !run.sync->DestinationInUse()) {
      // Not a failed run: the backup itself is whole.
      const Failure pruned =
          run.versions->Prune(run.sync->DestinationRootHandle(), run.keep_days,
                              SecondsSinceEpoch());
      if (!pruned.ok())
        lists_.lp3(kVersionsNotPruned + pruned.path + ": " +
                   ErrorText(pruned.error));
    }
    if (outcome.left_out > 0) lists_.lp3(LeftOutLine(outcome.left_out));
    lists_.lp3("Finished....in :" + Formatted("%.2f", elapsed) + " seconds");
  }
  outcome.files_handled = run.file_count;
  outcome.files_copied = sync_state_.FilesCopied;
  if (run.sync) outcome.failed_copies = run.sync->failed_copies();
  last_outcome_ = outcome;
}

}  // namespace ferrybox
