// SPDX-License-Identifier: GPL-3.0-or-later
// The destination tree of one run, folder by folder.
#ifndef FERRYBOX_ENGINE_DESTINATION_FOLDERS_H_
#define FERRYBOX_ENGINE_DESTINATION_FOLDERS_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/destination_root.h"
#include "engine/folder_cursor.h"
#include "platform/platform.h"

namespace ferrybox {

/// What a file lookup found.
struct FileLookup {
  bool found = false;
  FileInfo info;
  /// The name as its folder stores it; empty when it could not be learned.
  std::string stored_name;
};

/// Where a destination folder stands.
enum class FolderState {
  kPresent,
  /// Nothing of that name: it can be created.
  kMissing,
  /// Something stands in the way: a file, a link, or a folder that cannot
  /// be opened. Copies into it fail.
  kBlocked,
};

/// The destination root and the folder of it that files are being copied
/// into. Below the root no link is ever followed, so nothing planted inside
/// the destination can redirect a write outside it. Entering a folder lists
/// it once: lookups then report names exactly as stored (which matters on
/// file systems that ignore letter case), and copies left behind by a run
/// that was killed are removed.
class DestinationFolders {
 public:
  /// `root` may be missing yet; it outlives this.
  DestinationFolders(Platform& platform, DestinationRoot& root);

  /// Asked by Enter, Check and Create before each level they open, list or
  /// make: once it says no (a stop) they fail with kErrorStopped, leaving
  /// the rest undone (on a share each is a round trip). Not owned; nullptr
  /// asks nothing.
  void SetKeepGoing(const std::function<bool()>* keep_going) {
    keep_going_ = keep_going;
  }

  /// Makes `relative` (below the root, "" for the root) the current folder.
  int Enter(std::string_view relative);
  /// Enter for a copy whose line is shown: a stop does not keep it from
  /// ending with its copy or its failure.
  int EnterForCopy(std::string_view relative);
  /// kBlocked too when `keep_going` said no before the folder was reached.
  FolderState Check(std::string_view relative);
  /// Creates every missing level of `relative`, the root included, and
  /// enters it. Returns 0, or why a level could not be made or entered
  /// (EWOULDBLOCK when the root, made now, turns out to be locked by another
  /// run: `in_use`; kErrorStopped when `keep_going` said no). Until another
  /// folder is created, entering `relative` or a folder above it that is
  /// still missing gives that reason, not ENOENT.
  int Create(std::string_view relative);
  /// Another run made the root at the same time and holds it: this run must
  /// copy nothing.
  bool in_use() const { return in_use_; }

  /// From now on nothing is written: Create makes no folder and only
  /// remembers that the run would have made it (WouldMake), and copies left
  /// behind by a killed run stay where they are.
  void SetDryRun() { dry_run_ = true; }
  /// True in a dry run when `relative` is a folder Create was asked to make,
  /// or lies below one: missing, yet the run would have made it.
  bool WouldMake(std::string_view relative) const;

  /// The folder entered last; valid after Enter gave 0.
  Handle current() const { return cursor_.current(); }
  /// A file lookup of `name` in the current folder, without following a
  /// link.
  FileLookup Lookup(const std::string& name);
  /// The same, from a status of `name` read earlier (`stat_error` 0, or why
  /// it could not be read).
  FileLookup LookupRead(const std::string& name, int stat_error,
                        const FileInfo& info);
  /// The type the current folder's listing gave `name`, kUnknown when the
  /// listing did not hold it.
  EntryType ListedType(const std::string& name) const;
  /// Fails a destination folder that is a folder of the source
  /// (DestinationRoot::CheckNotSource), as WalkRules::check_level.
  const std::function<int(Handle)>* not_source() const { return &not_source_; }
  /// Tells the current folder's listing that `from` was renamed to `to`.
  void Renamed(const std::string& from, const std::string& to);
  /// True when the current folder's listing holds `name`.
  bool Holds(const std::string& name) const { return Listed(name) != nullptr; }
  /// The names the current folder's listing holds, as stored.
  std::vector<std::string> ListedNames() const;
  /// The device of the current folder, known once it was listed.
  std::optional<uint64_t> device() const {
    if (!entered_ || !listed_) return std::nullopt;
    return id_.device;
  }
  /// The root, open while it exists; kNoHandle while it does not.
  Handle Root() const;
  /// Whether a file made in the current folder may start with attributes
  /// (HandsOnAttributes), asked once per folder entered.
  bool HandsOnAttributes();

 private:
  int EnterFolder(std::string_view relative,
                  const std::function<bool()>* keep_going);
  int EnterUnlessStopped(std::string_view relative,
                         const std::function<bool()>* keep_going);
  int List();
  const DirEntry* Listed(const std::string& name) const;

  Platform& platform_;
  DestinationRoot& root_;
  FolderCursor cursor_;
  const std::function<int(Handle)> not_source_;
  const std::function<bool()>* keep_going_ = nullptr;
  bool in_use_ = false;
  bool dry_run_ = false;
  // In a dry run, the folders Create was asked to make.
  std::vector<std::string> would_make_;
  // The folder Create failed on last, and why.
  int create_error_ = 0;
  std::string failed_relative_;
  bool entered_ = false;
  std::string entered_relative_;
  bool listed_ = false;
  bool relisted_ = false;
  std::optional<bool> hands_on_;
  // The current folder's entries, sorted by name, and its identity.
  std::vector<DirEntry> names_;
  FileId id_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_DESTINATION_FOLDERS_H_
