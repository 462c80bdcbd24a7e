// SPDX-License-Identifier: GPL-3.0-or-later
// Earlier copies kept before a run replaces them, in dated folders of the
// destination, and removed again once they are old enough.
#ifndef FERRYBOX_ENGINE_VERSION_KEEPER_H_
#define FERRYBOX_ENGINE_VERSION_KEEPER_H_

#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/failure.h"
#include "platform/install_by_rename.h"
#include "platform/platform.h"
#include "platform/scoped_handle.h"

namespace ferrybox {

/// The folder, directly in the destination folder, that holds the earlier
/// versions, and the marker file the program writes into it.
inline constexpr char kVersionsFolder[] = ".ferrybox-versions";
inline constexpr char kVersionsMarker[] = "FERRYBOX-VERSIONS.TAG";
/// The first line of the marker.
inline constexpr char kVersionsSignature[] =
    "Signature: Ferrybox earlier versions";

/// True when `name` is what a run names its versions folder: its start in
/// UTC as "YYYY-MM-DD HH.MM.SSZ", maybe followed by a space and a number;
/// `*seconds` (when given) then receives that start.
bool IsVersionStamp(std::string_view name, int64_t* seconds = nullptr);

/// True when the folder open as `dir` holds a versions folder (no link)
/// with the program's marker in it.
bool HoldsMarkedVersions(Platform& platform, Handle dir);

/// True when the folder `root` (a whole path) holds a versions folder with
/// the program's marker; `*id` then receives that folder's identity.
bool FindMarkedVersions(Platform& platform, const std::string& root,
                        FileId* id);

/// Keeps what a run replaces, for one run into one destination root.
class VersionKeeper {
 public:
  /// `run_start` is the run's start in seconds since 1970 (UTC).
  VersionKeeper(Platform& platform, int64_t run_start);

  /// Makes, on the first call, the versions folder (owner-only, with its
  /// marker) in the destination root open as `destination_root`, which stays
  /// open while this lives, and this run's folder in it (its start, with a
  /// number after it when that name is taken). Returns 0 or why they cannot be
  /// made, on every later call too. Called by the run before the first copy
  /// that may keep a version; never while one is in flight.
  int Ready(Handle destination_root);

  /// Before `temporary` replaces `name` (both in `dir`, the destination
  /// folder `folder` below the root): when `name` holds an entry whose
  /// content may differ from the new one's (a length, a time or a link's
  /// text that differs, or another kind of entry), keeps it as `folder`/
  /// `name` in this run's folder: as a further name where the file system
  /// has them, otherwise moved there (`*moved` then true, and the caller
  /// moves it back should its install fail). The version's entry is
  /// flushed to the disk before this returns. Returns 0 or why the version
  /// could not be kept. Safe on any thread once Ready returned, several at
  /// once.
  int Keep(Handle dir, const std::string& temporary, const std::string& name,
           const std::string& folder, bool* moved);
  /// Moves the version of `folder`/`name` that Keep moved back to `name`
  /// in `dir`.
  void PutBack(Handle dir, const std::string& name, const std::string& folder);

  /// After the run, in the destination root open as `destination_root`:
  /// removes this run's folder when it kept nothing, empty
  /// folders left in run folders by a run that was killed or failed to
  /// keep, and, when `days` is above 0, every run folder started more than
  /// `days` days before `now` (seconds since 1970). Only folders directly
  /// in the versions folder whose names are run starts, and never through
  /// a link. Returns the first failure; what could be removed is removed.
  Failure Prune(Handle destination_root, int days, int64_t now);

 private:
  /// A folder below this run's folder, held open while copies keep versions
  /// in it, and its flushes: one at a time, each shared by every version
  /// made in the folder before it began.
  struct Place {
    explicit Place(Platform& platform) : handle(platform) {}
    ScopedHandle handle;
    // Under `mutex_`: flushes begun and ended, whether one is under way,
    // the first that failed.
    uint64_t begun = 0;
    uint64_t ended = 0;
    bool flushing = false;
    int error = 0;
  };
  /// The folders held open at most: the copies in flight keep their
  /// versions in a few folders at a time.
  static constexpr size_t kPlaces = 8;

  /// Opens (and makes, owner-only) the folders of `folder` below this
  /// run's folder.
  int OpenLevels(const std::string& folder, ScopedHandle* out) const;
  /// The folder `folder` below this run's folder, held open from the first
  /// call for it while it is among the last few asked for.
  int OpenPlace(const std::string& folder, std::shared_ptr<Place>* out);
  /// Returns once a flush of `place` begun after this call has ended, so
  /// that every entry made in it before is on the disk; 0 or why not.
  int Flush(Place& place);

  Platform& platform_;
  Handle root_ = kNoHandle;
  int64_t run_start_;
  bool tried_ = false;
  int ready_error_ = 0;
  ScopedHandle versions_;
  ScopedHandle run_folder_;
  std::string run_folder_name_;
  // Guards `places_` and the flush counts of every Place; no call to the
  // platform is made under it.
  std::mutex mutex_;
  std::condition_variable flushed_;
  // The folders held open, the one asked for last first.
  std::list<std::pair<std::string, std::shared_ptr<Place>>> places_;
};

/// One install's keeping of the entry it replaces, for InstallByRename.
class KeptVersion : public ReplacedEntry {
 public:
  /// `keeper` null keeps nothing.
  KeptVersion(VersionKeeper* keeper, std::string folder)
      : keeper_(keeper), folder_(std::move(folder)) {}
  int Keep(Handle dir, const std::string& temporary,
           const std::string& name) override;
  void Restore(Handle dir, const std::string& name) override;

 private:
  VersionKeeper* keeper_;
  std::string folder_;
  bool moved_ = false;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_VERSION_KEEPER_H_
