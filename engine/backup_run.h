// SPDX-License-Identifier: GPL-3.0-or-later
// The backup run: "Go", "Stop" and "Pause Copying".
#ifndef FERRYBOX_ENGINE_BACKUP_RUN_H_
#define FERRYBOX_ENGINE_BACKUP_RUN_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/copy_pipeline.h"
#include "engine/destination_root.h"
#include "engine/file_sync.h"
#include "engine/folder_scan.h"
#include "engine/look_ahead.h"
#include "engine/message_lists.h"
#include "engine/run_facts.h"
#include "engine/window.h"
#include "platform/platform.h"

namespace ferrybox {

class EarlyFlush;

/// Lines a run writes to List3 instead of copying when its folders cannot
/// make a backup.
inline constexpr char kSourceNotFullPath[] =
    "Source folder is not a full path: nothing copied";
inline constexpr char kDestinationNotFullPath[] =
    "Destination folder is not a full path: nothing copied";
inline constexpr char kNoSourceFolder[] =
    "No source folder given: nothing copied";
inline constexpr char kSourceFolderNotFound[] = "Source folder not found: ";
inline constexpr char kNoDestinationFolder[] =
    "No destination folder given: nothing copied";
inline constexpr char kSameFolder[] =
    "Source and destination are the same folder: nothing copied";
inline constexpr char kSourceInsideDestination[] =
    "Source folder is inside the destination folder: nothing copied";
inline constexpr char kDestinationInUse[] =
    "Destination folder in use by another run: nothing copied";
/// The List3 line of a run whose old versions could not all be removed,
/// followed by the reason.
inline constexpr char kVersionsNotPruned[] = "Old versions not removed: ";

/// The List3 line, before the closing line, of a run that left out `count`
/// entries (more than none) as the user asked.
std::string LeftOutLine(int64_t count);

/// The List3 line that tells `refusal`; `source_root` is the source folder
/// as the run read it. Empty for RunRefusal::kNone.
std::string RefusalLine(RunRefusal refusal, const std::string& source_root);

/// How a BackupRun times its runs and how far they read ahead; the defaults
/// are the program's.
struct RunOptions {
  /// Seconds, from any fixed point; a steady clock when empty.
  std::function<double()> clock = nullptr;
  /// How many files a run reads ahead of the one it works on, so that
  /// waiting for the disk overlaps; 0 reads each file only when its turn
  /// comes.
  int look_ahead = DefaultLookAhead();
  /// A stop from outside the window (the command line's SIGINT and
  /// SIGTERM), which the run and its reads ahead ask from any thread: true
  /// stops the run as "Stop" does, at once even while the run itself waits
  /// for a slow drive.
  std::function<bool()> stop_requested = nullptr;
  /// How many copies may be in flight at once; 1 makes them one at a time.
  size_t copies = DefaultCopies();
  /// A dry run: every file is decided, and every line and figure shown, as
  /// the run would show them, each copy taken as made; nothing is written
  /// (FileSync::SetDryRun). The destination is not locked, the copy log is
  /// left as it was, no version is kept or pruned, and nothing is flushed.
  bool dry_run = false;
};

/// The state of the backup that lives as long as the window, and the run
/// itself. During the scan a run only keeps the window alive (KeepAlive:
/// no user input but "Stop", "Exit" and a close). While copying it yields to
/// all the window's events before its first file, at its progress updates
/// (every 101st file), while paused, and whenever a quarter of a second has
/// passed since the last time (between files, and between the chunks of a
/// big file, where a pause holds it too). A "Go" handled there starts a nested
/// run inside the one under way; the outer run then goes on with its own files
/// (the copy in hand, too), keeping the counters the nested run left.
class BackupRun {
 public:
  /// `program_folder` holds the copy log.
  BackupRun(Window& window, MessageLists& lists, Platform& platform,
            std::string program_folder, RunOptions options = {});
  BackupRun(const BackupRun&) = delete;
  BackupRun& operator=(const BackupRun&) = delete;

  /// "Go": one whole run from the folders in Text1 and Text2, fixed when it
  /// starts. Returns after its closing line, or at once when abandoned.
  void Command3_Click();
  /// "Stop": the run under way (paused or not) ends before its next file;
  /// a copy in hand ends when it is in its last chunk, and a longer one is
  /// broken off, leaving the earlier copy (the run is then stopped, the
  /// last file too); a scan ends at once (copying nothing). After a stop
  /// the run only finishes the folders it changed, flushes the destination
  /// and lets go of its lock. Safe to call from a signal handler.
  void Command2_Click();
  /// "Pause Copying": holds the run under way before its next file, or a big
  /// file's copy before its next chunk; a second click resumes it. With no run
  /// under way nothing changes: the button goes on offering to pause.
  void Command11_Click();
  /// The program is ending: every run under way, nested or paused, stops
  /// as "Stop" stops it and returns without its closing line. Never
  /// cleared.
  void Abandon();

  /// Of the last run that finished.
  const RunOutcome& LastOutcome() const { return last_outcome_; }

 private:
  struct RunState;

  // The run as its steps: the start (reset, refusals, scan, the moment the
  // copying begins), one collected path at a time (false ends the run), the
  // finish (folders, flush, closing line).
  void StartRun(RunState& run);
  void ResetForRun(RunState& run);
  void CollectFiles(RunState& run);
  /// Decides the path `index` and hands its copy over, when it has one;
  /// false ends the run's decisions.
  bool DecideOne(RunState& run, size_t index);
  /// False when the run must not begin another file: abandoned, or stopped
  /// (the outcome then says so); waits while paused.
  bool MayBegin(RunState& run);
  /// Waits until another copy may be handed over and few enough files wait
  /// to be shown, taking results meanwhile.
  void MakeRoom(RunState& run);
  /// Takes the results of the files decided first, as long as they are
  /// done, or (`all`) every one, waiting for their copies.
  void TakeResults(RunState& run, bool all);
  /// Shows the first file decided and not yet taken, once.
  void ShowFront(RunState& run);
  /// Shows that the file `path` is begun: its List1 line and Text3.
  void ShowBegun(RunState& run, const std::string& path);
  /// Takes back what came of the first file decided, its copy done.
  void TakeFront(RunState& run);
  void FinishRun(RunState& run);
  /// True once the run was stopped (by "Stop", from outside, or by the
  /// program ending); the run's stop value is then set. Safe on any thread.
  bool Stopped(RunState& run);
  /// True, with its line in List3, when another run took the destination
  /// root as this one made it.
  bool LostDestination(RunState& run);
  void HandleEventsWhenDue(RunState& run);
  void WaitWhilePaused(RunState& run);
  /// False once "Stop", a stop from outside or the window's close ended the
  /// run; safe on any thread.
  bool Going();

  /// Why the roots cannot make a backup, or kNone. Resolves `destination_root`
  /// into `destination` and locks it where it exists. Tells `scan` to leave out
  /// the destination, should it lie inside the source.
  RunRefusal Refusal(const std::string& source_root,
                     const std::string& destination_root,
                     DestinationRoot* destination, ScanOptions* scan);
  /// Starts reading `files` ahead, unless look-ahead is off or there is
  /// nothing to gain; `*ahead` stays empty when no thread could start.
  void StartLookAhead(FileSync& sync, const std::vector<std::string>& files,
                      std::optional<LookAhead>* ahead);
  /// Gives the destination folders their attributes and flushes the
  /// destination to its disk; a failed flush, this one or an `early` one,
  /// is a failed copy of the root.
  void FinishOnDisk(FileSync& sync, const std::string& source_root,
                    const std::string& destination_root, EarlyFlush* early);
  void ShowFigures(double elapsed, bool closing);

  Window& window_;
  MessageLists& lists_;
  Platform& platform_;
  std::string copy_log_path_;
  std::function<double()> clock_;
  const std::function<bool()> stop_requested_;

  // Atomic: the reads ahead ask them from their own threads.
  std::atomic<bool> stop_flag_{false};
  bool pause_flag_ = false;
  // Holds the copies in flight between their chunks while paused.
  PauseGate pause_gate_;
  std::atomic<bool> abandoned_{false};
  // The size of the files handled in the current run, in bytes (KbTotal,
  // exactly: every byte counts, and the figures round it when they show it).
  int64_t bytes_total_ = 0;
  SyncState sync_state_;
  HeldRoots held_roots_;
  int depth_ = 0;
  const int look_ahead_;
  const size_t copies_;
  const bool dry_run_;
  RunOutcome last_outcome_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_BACKUP_RUN_H_
