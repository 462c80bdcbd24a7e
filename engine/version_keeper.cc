// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/version_keeper.h"

#include <errno.h>

#include <vector>

#include "engine/folder_walk.h"
#include "platform/environment.h"

namespace ferrybox {
namespace {

constexpr int64_t kSecondsPerDay = 24 * 60 * 60;

// Where a file system has no further names: Linux's own FAT says EPERM,
// FUSE ENOSYS; a file with as many names as it may have gets none more.
bool NoFurtherName(int error) {
  return error == EPERM || error == ENOSYS || error == EOPNOTSUPP ||
         error == ENOTSUP || error == EMLINK;
}

bool Digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

int Number(std::string_view text) {
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// True when `name` in `dir` is a folder, not through a link.
bool IsFolder(Platform& platform, Handle dir, const DirEntry& entry) {
  if (entry.type != EntryType::kUnknown)
    return entry.type == EntryType::kFolder;
  FileInfo info;
  return platform.Stat(dir, entry.name, false, &info) == 0 &&
         info.type == EntryType::kFolder;
}

// Removes the folder `name` in `dir` and all it holds (`files` true), or
// only the folders in it that hold no file (`files` false), never
// following a link: a link is removed as itself. Keeps the first failure.
void RemoveTree(Platform& platform, Handle dir, const std::string& name,
                bool files, int* first_error) {
  auto note = [first_error](int error) {
    if (error != 0 && *first_error == 0) *first_error = error;
  };
  ScopedHandle folder(platform);
  int error = platform.Open(dir, name, OpenMode::kFolderNoFollow, folder.out());
  if (error == ELOOP || error == ENOTDIR) return;  // not a folder of ours
  if (error != 0) return note(error);
  std::vector<DirEntry> entries;
  FileId self;
  error = platform.ListFolder(folder.get(), &entries, &self);
  if (error != 0) return note(error);
  for (const DirEntry& entry : entries) {
    if (IsFolder(platform, folder.get(), entry))
      RemoveTree(platform, folder.get(), entry.name, files, first_error);
    else if (files)
      note(platform.Remove(folder.get(), entry.name));
  }
  folder.reset();
  error = platform.RemoveFolder(dir, name);
  if (files || error != ENOTEMPTY) note(error);
}

}  // namespace

bool IsVersionStamp(std::string_view name, int64_t* seconds) {
  // "YYYY-MM-DD HH.MM.SSZ"
  constexpr size_t kLength = 20;
  if (name.size() < kLength) return false;
  const std::string_view stamp = name.substr(0, kLength);
  const std::string_view rest = name.substr(kLength);
  if (!rest.empty() && (rest[0] != ' ' || !Digits(rest.substr(1))))
    return false;
  static constexpr char kShape[] = "dddd-dd-dd dd.dd.ddZ";
  for (size_t i = 0; i < kLength; ++i) {
    const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
    if (kShape[i] == 'd' ? !digit : stamp[i] != kShape[i]) return false;
  }
  const int month = Number(stamp.substr(5, 2));
  const int day = Number(stamp.substr(8, 2));
  const int hour = Number(stamp.substr(11, 2));
  const int minute = Number(stamp.substr(14, 2));
  const int second = Number(stamp.substr(17, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
      minute > 59 || second > 60)
    return false;
  if (seconds != nullptr)
    *seconds =
        DaysFromCivil(Number(stamp.substr(0, 4)), month, day) * kSecondsPerDay +
        hour * 3600 + minute * 60 + second;
  return true;
}

bool HoldsMarkedVersions(Platform& platform, Handle dir) {
  ScopedHandle versions(platform);
  if (platform.Open(dir, kVersionsFolder, OpenMode::kFolderNoFollow,
                    versions.out()) != 0)
    return false;
  ScopedHandle marker(platform);
  if (platform.Open(versions.get(), kVersionsMarker, OpenMode::kReadFile,
                    marker.out()) != 0)
    return false;
  std::string head(sizeof kVersionsSignature - 1, '\0');
  size_t got = 0;
  return platform.Read(marker.get(), head.data(), head.size(), &got) == 0 &&
         got == head.size() && head == kVersionsSignature;
}

bool FindMarkedVersions(Platform& platform, const std::string& root,
                        FileId* id) {
  ScopedHandle folder(platform);
  FileInfo info;
  return platform.Open(kWorkingFolder, root, OpenMode::kFolder, folder.out()) ==
             0 &&
         HoldsMarkedVersions(platform, folder.get()) &&
         platform.Stat(folder.get(), kVersionsFolder, false, &info) == 0 &&
         info.type == EntryType::kFolder && (*id = info.id, true);
}

VersionKeeper::VersionKeeper(Platform& platform, int64_t run_start)
    : platform_(platform),
      run_start_(run_start),
      versions_(platform),
      run_folder_(platform) {}

int VersionKeeper::Ready(Handle destination_root) {
  if (tried_) return ready_error_;
  tried_ = true;
  root_ = destination_root;
  int error = platform_.MakePrivateFolder(root_, kVersionsFolder);
  if (error == EEXIST) error = 0;
  if (error == 0)
    error = platform_.Open(root_, kVersionsFolder, OpenMode::kFolderNoFollow,
                           versions_.out());
  FileInfo marker;
  if (error == 0 && platform_.Stat(versions_.get(), kVersionsMarker, false,
                                   &marker) == ENOENT) {
    const std::string text = std::string(kVersionsSignature) +
                             "\r\nEarlier versions of the files of this "
                             "backup, in folders named for the run that "
                             "replaced them (UTC).\r\n";
    error = InstallByRename(
                platform_, versions_.get(), kVersionsMarker,
                [&](const std::string& temporary, Handle* out) {
                  return platform_.Open(versions_.get(), temporary,
                                        OpenMode::kCreateExclusive, out);
                },
                [&](Handle out, const std::string& temporary) {
                  int written = platform_.Write(out, text);
                  if (written == 0) written = platform_.Sync(out);
                  return Failure{
                      .call = "write", .path = temporary, .error = written};
                })
                .error;
  }
  const std::string stamp = UtcStampText(run_start_);
  if (error == 0 && stamp.empty()) error = EINVAL;
  for (int number = 1; error == 0; ++number) {
    run_folder_name_ =
        number == 1 ? stamp : stamp + " " + std::to_string(number);
    error = platform_.MakePrivateFolder(versions_.get(), run_folder_name_);
    if (error != EEXIST || number >= 1000) break;
    error = 0;
  }
  if (error == 0)
    error = platform_.Open(versions_.get(), run_folder_name_,
                           OpenMode::kFolderNoFollow, run_folder_.out());
  // The folder that holds it is on the disk before any version is.
  if (error == 0) error = platform_.Sync(versions_.get());
  ready_error_ = error;
  return error;
}

int VersionKeeper::OpenLevels(const std::string& folder,
                              ScopedHandle* out) const {
  // The run's folder itself is open already.
  if (folder.empty()) return platform_.Duplicate(run_folder_.get(), out->out());
  // Copies in flight at once may make the same level: whoever is second
  // finds it made.
  WalkRules rules;
  rules.create_missing = true;
  rules.owner_only = true;
  ScopedHandle opened(platform_);
  const int error =
      WalkFolders(platform_, run_folder_.get(), folder, rules, opened.out());
  if (error == 0) *out = std::move(opened);
  return error;
}

int VersionKeeper::OpenPlace(const std::string& folder,
                             std::shared_ptr<Place>* out) {
  {
    std::lock_guard lock(mutex_);
    for (auto it = places_.begin(); it != places_.end(); ++it) {
      if (it->first != folder) continue;
      places_.splice(places_.begin(), places_, it);
      *out = it->second;
      return 0;
    }
  }
  auto place = std::make_shared<Place>(platform_);
  const int error = OpenLevels(folder, &place->handle);
  if (error != 0) return error;
  // The one let go of, closed outside the lock once no copy holds it.
  std::shared_ptr<Place> dropped;
  std::lock_guard lock(mutex_);
  for (auto it = places_.begin(); it != places_.end(); ++it) {
    if (it->first != folder) continue;
    // Another copy opened it meanwhile: share its flushes.
    dropped = std::move(place);
    *out = it->second;
    return 0;
  }
  places_.emplace_front(folder, place);
  if (places_.size() > kPlaces) {
    dropped = std::move(places_.back().second);
    places_.pop_back();
  }
  *out = std::move(place);
  return 0;
}

int VersionKeeper::Flush(Place& place) {
  std::unique_lock lock(mutex_);
  // A flush under way may have begun before the caller's entry was made:
  // only the next one counts.
  const uint64_t wanted = place.begun + 1;
  while (place.ended < wanted) {
    if (place.flushing) {
      flushed_.wait(lock);
      continue;
    }
    place.flushing = true;
    const uint64_t number = ++place.begun;
    lock.unlock();
    const int error = platform_.Sync(place.handle.get());
    lock.lock();
    place.flushing = false;
    place.ended = number;
    // A folder that failed to reach the disk once is not trusted again.
    if (place.error == 0) place.error = error;
    flushed_.notify_all();
  }
  return place.error;
}

int VersionKeeper::Keep(Handle dir, const std::string& temporary,
                        const std::string& name, const std::string& folder,
                        bool* moved) {
  *moved = false;
  FileInfo earlier;
  int error = platform_.Stat(dir, name, false, &earlier);
  if (error == ENOENT) return 0;  // nothing to replace
  if (error != 0) return error;
  // A folder is never replaced: the rename that would fails on its own.
  if (earlier.type == EntryType::kFolder) return 0;
  FileInfo made;
  error = platform_.Stat(dir, temporary, false, &made);
  if (error != 0) return error;
  // The same test as an incremental run: the same length and time is the
  // same content; a further name of the very file changes nothing.
  if (earlier.id == made.id) return 0;
  if (earlier.type == EntryType::kFile && made.type == EntryType::kFile &&
      earlier.size == made.size && earlier.mtime == made.mtime)
    return 0;
  if (earlier.type == EntryType::kLink && made.type == EntryType::kLink &&
      earlier.size == made.size) {
    std::string earlier_target;
    std::string made_target;
    if (platform_.ReadLink(dir, name, &earlier_target) == 0 &&
        platform_.ReadLink(dir, temporary, &made_target) == 0 &&
        earlier_target == made_target)
      return 0;
  }

  // Where no version can be kept, nothing is replaced.
  if (ready_error_ != 0 || !run_folder_.valid())
    return ready_error_ != 0 ? ready_error_ : EBADF;
  std::shared_ptr<Place> place;
  error = OpenPlace(folder, &place);
  if (error != 0) return error;
  const Handle held = place->handle.get();
  // A version is never replaced: both calls fail where the name is taken.
  error = platform_.MakeHardLink(dir, name, held, name);
  if (NoFurtherName(error)) {
    error = platform_.MoveEntry(dir, name, held, name);
    *moved = error == 0;
  }
  // The version's entry is on the disk before the name it came from can be
  // given to the new entry.
  if (error == 0) error = Flush(*place);
  if (error != 0 && *moved) {
    (void)platform_.MoveEntry(held, name, dir, name);
    *moved = false;
  }
  return error;
}

void VersionKeeper::PutBack(Handle dir, const std::string& name,
                            const std::string& folder) {
  std::shared_ptr<Place> place;
  if (OpenPlace(folder, &place) == 0)
    (void)platform_.MoveEntry(place->handle.get(), name, dir, name);
}

Failure VersionKeeper::Prune(Handle destination_root, int days, int64_t now) {
  {
    // No copy is in flight any more: let go of the folders before removing.
    std::list<std::pair<std::string, std::shared_ptr<Place>>> held;
    {
      std::lock_guard lock(mutex_);
      held.swap(places_);
    }
  }
  ScopedHandle versions(platform_);
  int error = platform_.Open(destination_root, kVersionsFolder,
                             OpenMode::kFolderNoFollow, versions.out());
  if (error == ENOENT) return Failure{};
  std::vector<DirEntry> entries;
  FileId self;
  if (error == 0) error = platform_.ListFolder(versions.get(), &entries, &self);
  if (error != 0)
    return Failure{.call = "remove", .path = kVersionsFolder, .error = error};
  int first_error = 0;
  std::string first_name;
  for (const DirEntry& entry : entries) {
    int64_t started = 0;
    if (!IsVersionStamp(entry.name, &started) ||
        !IsFolder(platform_, versions.get(), entry))
      continue;
    const bool old = days > 0 && started < now - days * kSecondsPerDay;
    const int before = first_error;
    RemoveTree(platform_, versions.get(), entry.name, old, &first_error);
    if (before == 0 && first_error != 0) first_name = entry.name;
  }
  if (first_error == 0) return Failure{};
  return Failure{.call = "remove",
                 .path = std::string(kVersionsFolder) + "/" + first_name,
                 .error = first_error};
}

int KeptVersion::Keep(Handle dir, const std::string& temporary,
                      const std::string& name) {
  if (keeper_ == nullptr) return 0;
  return keeper_->Keep(dir, temporary, name, folder_, &moved_);
}

void KeptVersion::Restore(Handle dir, const std::string& name) {
  if (keeper_ != nullptr && moved_) keeper_->PutBack(dir, name, folder_);
  moved_ = false;
}

}  // namespace ferrybox
