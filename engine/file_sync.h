// SPDX-License-Identifier: GPL-3.0-or-later
// Bringing one source file over to the destination tree.
#ifndef FERRYBOX_ENGINE_FILE_SYNC_H_
#define FERRYBOX_ENGINE_FILE_SYNC_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/case_folding.h"
#include "engine/copy_job.h"
#include "engine/destination_folders.h"
#include "engine/file_copy.h"
#include "engine/file_decision.h"
#include "engine/folder_cursor.h"
#include "engine/folder_finish.h"
#include "engine/later_names.h"
#include "engine/look_ahead.h"
#include "engine/message_lists.h"
#include "engine/time_step.h"
#include "engine/version_keeper.h"
#include "engine/window.h"
#include "platform/platform.h"

namespace ferrybox {

/// List2 lines, each followed by a path.
inline constexpr char kCheckingFolder[] = "checking directory exists=";
inline constexpr char kCreatingFolder[] = "Creating Folder: ";
inline constexpr char kNewFile[] = "New File, Copying: ";
inline constexpr char kDifferentFile[] = "Different File, Updating=";

/// True when the destination copy exists as a regular file and matches the
/// source: the same length, the same last-modified time at the step the
/// destination's file system keeps times in (exactly the same at
/// kExactTimes; whichever is newer), and the same stored name, letter case
/// included.
bool SameFile(const FileLookup& source, const FileLookup& destination,
              int64_t time_step_ns = kExactTimes);

/// The values synchronisation keeps for as long as the window lives.
struct SyncState {
  /// The destination folder whose existence was checked last.
  std::string LastCheckedFolder;
  /// Files handed to the copy in the current run.
  int64_t FilesCopied = 0;
};

/// Copies the files of one run from its source root to its destination
/// root; both roots are fixed when it is made. Each file's step is reported
/// through lp2, each failure through lp3 and the copy log.
class FileSync {
 public:
  /// `destination_root` is the path as given, for the lines; `destination`
  /// is that path resolved, and outlives this.
  FileSync(Platform& platform, Window& window, MessageLists& lists,
           SyncState& state, const std::string& source_root,
           const std::string& destination_root, DestinationRoot& destination,
           std::string copy_log_path);

  /// The destination path of a path under the source root (or of the root
  /// itself): the destination root and the part below the source root,
  /// joined by exactly one separator.
  std::string DestinationPath(std::string_view source_path) const;

  /// Reads the status of a collected source entry: a regular file, or a
  /// symbolic link as itself. Anything else fails with kErrorNotAFile.
  int StatSource(const std::string& source_path, FileInfo* info);

  /// True for a collected path that stands for a folder holding nothing to
  /// copy (it ends in the separator), rather than a file.
  static bool IsFolderPath(std::string_view source_path);

  /// Decides the collected path `source_path` in its turn: a folder that
  /// holds nothing to copy (it ends in the separator) is brought over as
  /// itself; a file whose status could not be read (`status_error`) is
  /// kUnreadable. Otherwise `source` is its status (read ahead as `ahead`
  /// tells, or now): checks its destination folder once per folder,
  /// creating it when missing, decides by "Incremental Backup" (Check3,
  /// read now) and SameFile (SameLink for a link) whether to copy, and when
  /// it must, makes the copy's job. A further name of a file copied earlier
  /// in the run under another name (a hard link within the source tree)
  /// becomes a job that links it to that copy, where the destination can.
  /// An unchanged copy whose bits, owner or group differ from its source's,
  /// or whose source's status changed after the copy's (its attributes),
  /// gets them at once, without a copy or a line (RefreshStatus). A new
  /// name of a file whose other names all come later (at `position` in the
  /// list given to SetCollected) is linked to the copy of one of them, where
  /// that copy is up to date (LaterCopy). Lines and failures met on the way
  /// are kept in the decision, for Show. A stop before the file is begun
  /// leaves it kLeftByStop.
  FileDecision Decide(const std::string& source_path, int status_error,
                      const FileInfo& source,
                      const AheadStatus* ahead = nullptr, size_t position = 0);

  /// Shows what `decision` holds to show before its copy's result: the
  /// folders' lines and failures, and the copy's own line.
  void Show(const FileDecision& decision);

  /// Takes back what came of `decision` (its copy done, when it had one):
  /// the failure line and copy log, the link group, the time step learned,
  /// and FilesCopied (shown in Text4) for every file handed to the copy.
  /// Returns the decision's error or its copy's, kErrorStopped when a stop
  /// broke the copy off (the earlier copy stays, nothing is reported).
  int TakeResult(FileDecision& decision);

  /// True when deciding `source_path` would finish destination folders
  /// the run leaves: copies still in flight into them must end first.
  bool LeavesFolders(std::string_view source_path) const;

  /// True when `source_path` goes into a destination folder that ignores
  /// case: the drive judges its name only once the copies into that folder
  /// still in flight are installed.
  bool JudgedByTheDrive(std::string_view source_path) const;

  /// True when deciding `source` depends on the link group of a name
  /// decided earlier, whose result must then be taken first.
  static bool InLinkGroup(const FileInfo& source) {
    return source.type == EntryType::kFile && source.links > 1;
  }

  /// The roots, for reading statuses ahead of the run; destination entries
  /// are looked up only for `incremental` runs.
  AheadRoots RootsForLookAhead(bool incremental);

  /// The run's stop value, asked before each destination folder is
  /// reached, made or made ready (after a stop no folder is) and before
  /// each file is begun. Not owned; nullptr asks nothing.
  void SetKeepGoing(const std::function<bool()>* keep_going);

  /// The run's collected list, whose later names a new name of a file with
  /// several names may be linked to, and what the run asks while it waits
  /// (handling the window's events and a pause; false after a stop), asked
  /// between the files of the pass that finds them. Neither is owned;
  /// without them no later name is looked for.
  void SetCollected(const std::vector<std::string>* files,
                    const std::function<bool()>* while_waiting) {
    collected_ = files;
    while_waiting_ = while_waiting;
  }

  /// Gives every destination folder still being worked in its source
  /// folder's permissions, times and owner; the run has no more files.
  /// After a stop only those that safety needs (FolderFinisher).
  void FinishFolders(bool stopped = false);

  /// The destination root, opened when it exists; kNoHandle otherwise.
  Handle DestinationRootHandle() { return destination_.Root(); }

  /// The destination root did not exist when the run began, and another run
  /// made it and holds it: nothing was copied, and nothing may be.
  bool DestinationInUse() const { return destination_.in_use(); }

  /// Reports that `source_path` could not be copied to `destination_path`,
  /// and why (an errno value or an EngineError); with `installed`, that the
  /// copy was made but the attribute it names was not kept. While a path is
  /// being decided, the decision keeps the failure for Show.
  void CopyFailed(const std::string& source_path,
                  const std::string& destination_path, int error,
                  const CopyResult* installed = nullptr);

  int64_t failed_copies() const { return failed_copies_; }

  /// Keeps what the run's copies replace with `keeper` (not owned; nullptr
  /// keeps nothing).
  void SetVersionKeeper(VersionKeeper* keeper) { versions_ = keeper; }

  /// Makes this a dry run: every path is decided and shown as the run would
  /// decide and show it, a copy to make taken as made, and nothing is
  /// written. No folder is made or finished, no job handed out, no copy
  /// log line written; an unchanged copy is not brought up to date, nor a
  /// stored spelling renamed. How an existing destination keeps names,
  /// times and links is learned from what it holds where that tells;
  /// elsewhere its probes still run, leaving nothing behind.
  void SetDryRun();

 private:
  struct PathParts {
    std::string_view relative;  // below the source root
    std::string_view folder;    // of `relative`, "" for the root
    std::string_view name;
  };
  /// Where the names of one source file with several names go: the copy of
  /// the first name the run met, and how many names are still to come.
  struct LinkGroup {
    std::string relative;  // of the first name's copy, below the root
    FileId destination;    // that copy, as found unchanged
    bool fresh = false;    // copied in this run: link every further name
    uint32_t names_left = 0;
  };
  struct FileIdHash {
    size_t operator()(const FileId& id) const {
      return std::hash<uint64_t>()(id.inode * 31 + id.device);
    }
  };

  /// A folder shared with the jobs made in it, and where it came from.
  struct HeldFolder {
    Handle origin = kNoHandle;
    std::string relative;
    SharedFolder folder;
  };

  PathParts Split(std::string_view source_path) const;
  /// Checks (and makes) the destination folder of `parts`, reporting it in
  /// List2 once per folder; `refused` tells whether it is refused as a
  /// FolderClash. False when another run took the destination, or after a
  /// stop.
  bool ReachFolder(const PathParts& parts, bool* refused);
  /// The group a source file with several names belongs to, when the run
  /// met another of its names first; nullptr otherwise.
  LinkGroup* GroupOf(const FileInfo& source);
  /// Counts one more name of the group `source` belongs to as done, and
  /// records the group when this is its first name, its copy being new
  /// (`fresh`) or the entry `copy`.
  void NameDone(const std::string_view relative, const FileInfo& source,
                bool fresh, const FileId& copy);
  /// For the new name `parts` of `source`, whose group the run has not met
  /// yet: the group of the first later name of the same file whose copy its
  /// own turn would find up to date (SameFile, RefreshStatus, which it
  /// does now), recorded with that copy for the names to come; nullptr when
  /// there is none. The later names are read once per run, when first
  /// needed. Leaves the current folders elsewhere.
  LinkGroup* LaterCopy(const PathParts& parts, const FileInfo& source);
  /// True when the destination folder's file system can give a file more
  /// than one name; `found` is an entry found in that folder.
  bool MakesLinks(const FileInfo& found);
  /// Brings the owner, group and bits of the unchanged copy `there` of
  /// `parts` up to its source's when they differ, as far as its device keeps
  /// them, and its attributes when its source's status changed after the
  /// copy's (or for every file, with CheckAttributes). 0 when done or
  /// nothing differs; otherwise the copy is made again: on an error, and
  /// when the change would land on a file the copy shares with names its
  /// source does not share with.
  int RefreshStatus(const PathParts& parts, const FileInfo& source,
                    const FileLookup& there);
  /// Gives the unchanged link `name` in the current destination folder
  /// (whose status is `there`) its source's owner and group (where the
  /// process may change owners) and times when they differ. 0 or why not:
  /// the link is then made again.
  int RefreshLink(const std::string& name, const FileInfo& source,
                  const FileInfo& there);
  /// True when the file must not be copied because its name, or its
  /// folder's, is one with another name kept on a destination that ignores
  /// case. A stored spelling that gives way to the file's own is renamed
  /// first (RespellStored).
  bool CaseClash(const PathParts& parts);
  /// Gives the copy stored as `stored` the file's own spelling.
  void RespellStored(const PathParts& parts, const std::string& stored);
  /// True when the destination folder `folder` must take no copies because
  /// a level of it differs only in case from a folder name that keeps its
  /// place. Asked before the folder is made.
  bool FolderClash(std::string_view folder);
  /// The names of the source folder `relative` and of its destination.
  void ListNames(std::string_view relative, FolderNames* names);
  /// The incremental comparison with what the backup holds: true when the
  /// destination already has this file (its copy, its link, or the name
  /// linked to its group's copy). Otherwise `*line` is the List2 line of the
  /// copy to make, and `*group` null when the name gets a file of its own.
  bool UpToDate(const PathParts& parts, const FileInfo& source,
                const AheadStatus* ahead, bool case_clash, LinkGroup** group,
                const char** line);
  /// Enters the destination folder `relative` for a copy: 0 also for a
  /// folder that a dry run would have made.
  int EnterForCopy(std::string_view relative);
  /// Opens the source file for its copy into `*in`.
  int OpenSource(const PathParts& parts, ScopedHandle* in);
  void DecideFolder(FileDecision& decision);
  void DecideFile(FileDecision& decision, const AheadStatus* ahead);
  /// Makes the job that writes `parts` as `decision` and `group` say, or
  /// makes it kFailed when the copy cannot be begun.
  void MakeJob(FileDecision& decision, const PathParts& parts, bool case_clash,
               const LinkGroup* group, ScopedHandle in, int open_error);
  /// The folder `cursor_handle` (the folder `relative` as a cursor holds
  /// it), held open for the jobs made in it.
  int HoldFolder(Handle cursor_handle, std::string_view relative,
                 HeldFolder* held);
  /// A List2 line, or kept for Show while a path is decided.
  void Say(std::string line);
  bool StopRequested() const;

  Platform& platform_;
  Window& window_;
  MessageLists& lists_;
  SyncState& state_;
  std::string source_prefix_;
  std::string destination_prefix_;
  std::string copy_log_path_;
  FolderCursor source_;
  DestinationFolders destination_;
  TimeSteps time_steps_;
  CaseNames case_names_;
  FolderFinisher folders_;
  int source_root_error_ = 0;
  bool incremental_ = false;
  bool check_attributes_ = false;
  // The destination folder of the last file, and its part below the root.
  bool folder_known_ = false;
  std::string folder_relative_;
  std::string destination_folder_;
  int64_t failed_copies_ = 0;
  bool dry_run_ = false;
  const std::function<bool()>* keep_going_ = nullptr;
  // The collected list and the position of the path being decided in it.
  const std::vector<std::string>* collected_ = nullptr;
  const std::function<bool()>* while_waiting_ = nullptr;
  size_t position_ = 0;
  std::optional<LaterNames> later_names_;
  VersionKeeper* versions_ = nullptr;
  // The decision being made, which keeps its lines until they are shown.
  FileDecision* deciding_ = nullptr;
  // The source and destination folders of the last jobs.
  HeldFolder source_held_;
  HeldFolder destination_held_;
  // Only files with more than one name are remembered, until their last
  // name in the tree has been handled.
  std::unordered_map<FileId, LinkGroup, FileIdHash> link_groups_;
  // Destination devices that do not stamp status-change times (FAT and
  // exFAT give the last-modified time): they keep no bits or attributes to
  // bring up to date either.
  std::vector<uint64_t> unstamped_devices_;
  // Destination devices that kept no bits, or no owner, when asked.
  std::vector<uint64_t> bitless_devices_;
  std::vector<uint64_t> ownerless_devices_;
  // Destination devices probed for hard links, and the answer.
  std::vector<std::pair<uint64_t, bool>> link_devices_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_FILE_SYNC_H_
