// SPDX-License-Identifier: GPL-3.0-or-later
// Destinations that store names without regard to letter case.
#ifndef FERRYBOX_ENGINE_CASE_FOLDING_H_
#define FERRYBOX_ENGINE_CASE_FOLDING_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"

namespace ferrybox {

/// The form in which names that a folding file system may take as one meet:
/// decomposed (NFD) and fully case folded, so that the two Unicode forms of
/// "café" meet, and "straße" meets "STRASSE". Bytes that are not UTF-8
/// stay as they are. Whether two names that meet are one is for the drive
/// to say: exFAT keeps "ſ" and "s" apart.
std::string FoldCase(std::string_view name);

/// Learns whether the file system of `folder` ignores letter case, without
/// touching anything of the user's: creates a file under a temporary name
/// in `folder`, looks it up in capitals, and removes it. Returns 0, an
/// errno value, or kErrorStopped when `keep_going` (asked before the file
/// is made and after) said no.
int ProbeCaseFolding(Platform& platform, Handle folder, bool* folds,
                     const std::function<bool()>* keep_going = nullptr);

/// Learns the same without writing anything, from a name `folder` already
/// stores: looks up one with an ASCII letter, every such letter in the other
/// case, where the folder holds no entry of that spelling too. False when
/// the folder holds no such name or cannot be read: only a probe can tell.
bool FoldsByStoredNames(Platform& platform, Handle folder, bool* folds);

/// The names of one source folder and what its destination folder stores,
/// for CaseNames to settle a clash.
struct FolderNames {
  /// The source folder's entries but its folders and special files.
  std::vector<std::string> source;
  /// The source folder's folders.
  std::vector<std::string> folders;
  /// The destination folder's entries, as stored.
  std::vector<std::string> stored;
  /// Whether the destination folder ignores case (one still to be made
  /// takes it from the folder above).
  bool folds = true;
};

/// The destination folder whose files are being claimed, open; kNoHandle
/// when it cannot be reached.
using FolderHandle = std::function<Handle()>;

/// Whether the drive takes `name` in `folder` as one with `kept`, a name
/// the folder does not hold: an empty file is made under `kept` for the
/// moment of asking, and removed. Returns 0 or an errno value.
int DriveTakesAsOne(Platform& platform, Handle folder, const std::string& kept,
                    const std::string& name, bool* one);

/// Renames `stored` in `folder` to `name`, a spelling the drive takes as
/// the same name, through a temporary name: renamed straight onto a
/// spelling of itself, some drives (ext4's casefold folders) keep the
/// stored one. On failure `stored` is left as it was. Returns 0 or an errno
/// value.
int RespellStoredName(Platform& platform, Handle folder,
                      const std::string& stored, const std::string& name);

/// The names one run gives its copies in destination folders that ignore
/// letter case (FAT, exFAT, most network shares, ext4 and f2fs folders with
/// the casefold attribute), where two source names of one folder that the
/// drive takes as one would overwrite each other. Names are grouped by
/// FoldCase; of each group, of files and of folders alike, the one the
/// destination already stores keeps its place, else the first in byte
/// order, whatever order the source folder lists them in. Every other file
/// name of the group is refused when the drive takes it as one with the
/// name kept, and copied as a file of its own where the drive keeps the
/// two apart; a folder refused so refuses everything below it. A name
/// stored that the source no longer holds (a file whose case alone was
/// renamed) gives way to the source's.
class CaseNames {
 public:
  /// Fills in the names of the folder given (a path below the root).
  using Names = std::function<void(std::string_view, FolderNames*)>;

  explicit CaseNames(Platform& platform) : platform_(platform) {}

  /// Whether the destination folder `relative` (open as `folder`, on
  /// `device`) ignores case: by its own flag where its file system keeps
  /// one per folder, else as a probe on that device tells, learned once per
  /// run. A device that cannot be probed is taken as keeping case. No probe
  /// is made once `keep_going` (when set) says stop: the answer is then
  /// false, and not kept, for a run that copies nothing more.
  bool Folds(std::string_view relative, uint64_t device, Handle folder);

  /// True when Folds last said that the folder `relative` ignores case.
  /// Copies into it still in flight must then be installed before a name
  /// there is judged, so that the drive has seen them.
  bool KnownToFold(std::string_view relative) const {
    return folds_known_ && folds_ && relative == folds_relative_;
  }

  /// From now on a device is judged by the names it stores where it can be
  /// (FoldsByStoredNames), and probed only where it cannot: a dry run
  /// writes as little as it may.
  void SetLookFirst() { look_first_ = true; }

  /// Asked before a probe; see Folds. Not owned; nullptr asks nothing.
  void SetKeepGoing(const std::function<bool()>* keep_going) {
    keep_going_ = keep_going;
  }

  /// Claims the destination folder `folder` (its path below the root), in
  /// a folder that ignores case or will once made: false when a level of it
  /// loses to a name differing from it only in case in a folder above that
  /// ignores case. `names` is asked once for each folder above whose
  /// folders are met first.
  bool ClaimFolder(std::string_view folder, const Names& names);

  /// Claims the file `name` in the destination folder `folder`, which
  /// ignores case. Files arrive folder by folder, each folder's files
  /// together; `names` is asked about `folder` once. Before a name is
  /// written, the drive (Platform::StoredName in the folder `open` gives)
  /// says whether it already leads to an entry stored under other bytes:
  /// one that this run claimed or the source still holds makes it a clash.
  /// Where the name kept of its group is not on the drive yet (listed later
  /// in the source folder), the drive is shown it for a moment, as an empty
  /// file, so that the kept name never depends on the listing's order.
  /// False when `name`, or a level of `folder`, loses. `*replaces`
  /// receives a stored spelling that gives way to `name` (the case of a
  /// file renamed), else is emptied.
  bool Claim(std::string_view folder, std::string_view name, const Names& names,
             const FolderHandle& open, std::string* replaces);

 private:
  Platform& platform_;
  const std::function<bool()>* keep_going_ = nullptr;
  bool look_first_ = false;
  // A run writes to one device, seldom more: a short list is enough.
  std::vector<std::pair<uint64_t, bool>> devices_;
  // The folder Folds was asked about last, and its answer.
  std::string folds_relative_;
  bool folds_known_ = false;
  bool folds_ = false;
  // Every folder level met, by its parent's path and its folded name: the
  // spelling that keeps that place, empty where the parent keeps case.
  std::unordered_map<std::string, std::string> folders_;
  // The folder whose files are being claimed, whether it was refused, and
  // the name that keeps its place for each folded name of its listing.
  std::string folder_;
  bool folder_known_ = false;
  bool folder_refused_ = false;
  bool winners_known_ = false;
  std::unordered_map<std::string, std::string> winners_;
  // Names claimed that no listing settled, by their folded form.
  std::unordered_map<std::string, std::string> files_;
  // The folder's names in the source and as the destination stores them,
  // and those claimed in it so far: written, or about to be.
  std::unordered_set<std::string> source_;
  std::unordered_set<std::string> stored_;
  std::unordered_set<std::string> claimed_;

  // Adds to folders_ the folders of `parent`'s listing.
  void SettleFolders(std::string_view parent, const FolderNames& listed);
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_CASE_FOLDING_H_
