// SPDX-License-Identifier: GPL-3.0-or-later
// Platforms for tests: one that passes every call on and fails chosen
// calls, one that ignores case.
#ifndef FERRYBOX_TESTS_SUPPORT_TEST_PLATFORMS_H_
#define FERRYBOX_TESTS_SUPPORT_TEST_PLATFORMS_H_

#include <errno.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace ferrybox::testing {

/// Passes calls on, except those a fault fails, and records each as
/// "<kind> <name>". The kinds: ListFolder is "list"; Stat and StoredName
/// "stat"; Open, CreateFile, OpenForReading, MakeLink and MakeHardLink
/// "open"; OpenForWriting "create"; Status "status"; Read, ReadLink and Seek
/// "read";
/// Write, SetLength and a kernel copy "write" (the copy a "read" too); Sync
/// "sync"; Finish, SetTimes and SetMode "set-times"; Rename and MoveEntry
/// "rename"; MakeFolder and MakePrivateFolder "mkdir"; SetOwner "set-owner";
/// the four attribute calls "attributes"; SyncFileSystem "flush"; Remove
/// and RemoveFolder "remove"; Close "close". Leases, locks, the case flag
/// of a folder, StartWriteBack and MayChangeOwners have no kind: a refused
/// lease or lock is a state of the file system, not a fault. Calls on a
/// handle count under the name or path it was opened with (a link made,
/// under its name), a rename under its new name (recorded as
/// "rename FROM -> TO", a move from folder to folder as
/// "rename FROM => TO"). Remove and Close fail only by a fault of their own
/// kind (a failed Close closes all the same) and call no hook; leases fail
/// only as `lease_error` says. Every call that changes what a file system
/// holds, locks or flushes it is recorded once more among `writes()`.
/// A fake derives from it and overrides only the calls it changes.
class FaultyPlatform : public Platform {
 public:
  using Platform::Write;
  // clang-format off
  enum class Kind { kNone, kList, kStat, kOpen, kRead, kWrite, kSetTimes,
                    kRename, kMkdir, kFlush, kSetOwner, kAttributes,
                    kCreate, kStatus, kSync, kClose, kRemove };
  // clang-format on

  /// Every call of `fail_kind` on a name containing `fail_name` fails.
  Kind fail_kind = Kind::kNone;
  std::string fail_name;
  int fail_error = EIO;
  /// Calls failed so far, by any fault.
  int failures = 0;
  /// Called before every call that may fail, with its kind and name.
  std::function<void(Kind kind, const std::string& name)> before_call;
  /// When not 0, one Read or kernel copy moves at most this many bytes.
  size_t chunk_limit = 0;
  bool hide_entry_types = false;
  /// When not 0, TakeReadLease fails with it, as where leases cannot be had.
  int lease_error = 0;
  /// Stat reports status-change times this many seconds earlier than they
  /// are, as for files left alone that long.
  int64_t status_age_s = 0;
  /// When not 0, Stat reports this status-change time (in seconds) for
  /// every entry, as for writes through a mapping that move no time.
  int64_t frozen_ctime_s = 0;

  /// Fails only the `nth` such call (from 1, counted from now on). Armed by
  /// `before_call`, it counts only the calls of the thread that ran into
  /// the hook: a run copies files on several threads at once.
  void FailNth(Kind kind, int nth, int error, std::string name = {}) {
    std::lock_guard lock(mutex_);
    fail_thread_ = hook_thread_;
    fail_kind = kind;
    fail_name = std::move(name);
    fail_error = error;
    nth_ = nth;
  }
  void Heal() {
    std::lock_guard lock(mutex_);
    nth_ = 0;
    fail_thread_ = {};
    fail_kind = Kind::kNone;
    before_call = nullptr;
    lease_error = 0;
    status_age_s = 0;
    frozen_ctime_s = 0;
  }
  size_t open_handles() const { return names_.size(); }
  /// Every call so far, in order.
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  /// Every call so far that writes, as "<what> <name>": create, write,
  /// set-times, set-mode, set-owner, attribute, link, rename, mkdir, remove,
  /// lock, sync, flush.
  std::vector<std::string> writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  /// The name or path the `index`th call was given.
  std::string PathAt(size_t index) const {
    const std::string call = calls().at(index);
    return call.substr(call.find(' ') + 1);
  }

  int Open(Handle dir, const std::string& name, OpenMode mode,
           Handle* out) override {
    if (mode == OpenMode::kCreateExclusive) Wrote("create", name);
    return Opened(
        Pass(Kind::kOpen, name, &Platform::Open, dir, name, mode, out), name,
        out);
  }
  int CreateFile(Handle dir, const std::string& name, uint32_t bits,
                 Handle* out, FileInfo* made) override {
    Wrote("create", name);
    return Opened(Pass(Kind::kOpen, name, &Platform::CreateFile, dir, name,
                       bits, out, made),
                  name, out);
  }
  int ListFolder(Handle dir, std::vector<DirEntry>* entries,
                 FileId* self) override {
    if (int error = Fail(Kind::kList, NameOf(dir))) return error;
    const int error = base().ListFolder(dir, entries, self);
    if (hide_entry_types)
      for (DirEntry& entry : *entries) entry.type = EntryType::kUnknown;
    return error;
  }
  int Stat(Handle dir, const std::string& name, bool follow_link,
           FileInfo* info) override {
    if (int error = Fail(Kind::kStat, Named(dir, name))) return error;
    const int error = base().Stat(dir, name, follow_link, info);
    std::lock_guard lock(mutex_);
    if (error == 0) info->ctime.seconds -= status_age_s;
    if (error == 0 && frozen_ctime_s != 0)
      info->ctime = FileTime{frozen_ctime_s, 0};
    return error;
  }
  int Read(Handle file, char* buffer, size_t size, size_t* got) override {
    return Pass(Kind::kRead, NameOf(file), &Platform::Read, file, buffer,
                Limited(size), got);
  }
  int Write(Handle file, const char* buffer, size_t size) override {
    Wrote("write", NameOf(file));
    if (int error = Fail(Kind::kWrite, NameOf(file))) return error;
    return base().Write(file, buffer, size);
  }
  int CopyRange(Handle from, Handle to, int64_t size,
                int64_t* copied) override {
    Wrote("write", NameOf(to));
    if (int error = Fail(Kind::kWrite, NameOf(to))) return error;
    if (int error = Fail(Kind::kRead, NameOf(from))) return error;
    return base().CopyRange(from, to, static_cast<int64_t>(Limited(size)),
                            copied);
  }
  int Finish(Handle file, std::optional<uint32_t> mode, FileTime atime,
             FileTime mtime, FileTime* stored_mtime) override {
    Wrote("set-times", NameOf(file));
    return Pass(Kind::kSetTimes, NameOf(file), &Platform::Finish, file, mode,
                atime, mtime, stored_mtime);
  }
  int SetTimes(Handle dir, const std::string& name, FileTime atime,
               FileTime mtime, FileTime* stored_mtime) override {
    Wrote("set-times", Named(dir, name));
    return Pass(Kind::kSetTimes, name, &Platform::SetTimes, dir, name, atime,
                mtime, stored_mtime);
  }
  int TakeReadLease(Handle file) override {
    int error = 0;
    {
      std::lock_guard lock(mutex_);
      error = lease_error;
    }
    return error != 0 ? error : base().TakeReadLease(file);
  }
  int LockFolder(Handle dir) override {
    Wrote("lock", NameOf(dir));
    return base().LockFolder(dir);
  }
  int Rename(Handle dir, const std::string& from,
             const std::string& to) override {
    Wrote("rename", to);
    if (int error = Fail(Kind::kRename, to, from + " -> " + to)) return error;
    return base().Rename(dir, from, to);
  }
  int MakeFolder(Handle dir, const std::string& name) override {
    Wrote("mkdir", name);
    return Pass(Kind::kMkdir, name, &Platform::MakeFolder, dir, name);
  }
  int Remove(Handle dir, const std::string& name) override {
    Wrote("remove", name);
    if (int error = Cleanup(Kind::kRemove, name)) return error;
    return base().Remove(dir, name);
  }
  int MoveEntry(Handle from_dir, const std::string& from, Handle to_dir,
                const std::string& to) override {
    Wrote("rename", to);
    if (int error = Fail(Kind::kRename, to, from + " => " + to)) return error;
    return base().MoveEntry(from_dir, from, to_dir, to);
  }
  int RemoveFolder(Handle dir, const std::string& name) override {
    Wrote("remove", name);
    if (int error = Cleanup(Kind::kRemove, name)) return error;
    return base().RemoveFolder(dir, name);
  }
  int Close(Handle handle) override {
    int error = 0;
    {
      std::lock_guard lock(mutex_);
      error = Cleanup(Kind::kClose, NameOf(handle));
      names_.erase(handle);
    }
    const int closed = base().Close(handle);
    return error != 0 ? error : closed;
  }
  int Duplicate(Handle handle, Handle* out) override {
    const std::string name = NameOf(handle);
    return Opened(base().Duplicate(handle, out), name, out);
  }
  int OpenForReading(const std::string& path, Handle* out) override {
    return Opened(Pass(Kind::kOpen, path, &Platform::OpenForReading, path, out),
                  path, out);
  }
  int OpenForWriting(const std::string& path, WriteMode mode,
                     Handle* out) override {
    Wrote("create", path);
    return Opened(
        Pass(Kind::kCreate, path, &Platform::OpenForWriting, path, mode, out),
        path, out);
  }
  int Status(Handle file, FileStatus* status) override {
    return Pass(Kind::kStatus, NameOf(file), &Platform::Status, file, status);
  }
  int Sync(Handle file) override {
    Wrote("sync", NameOf(file));
    return Pass(Kind::kSync, NameOf(file), &Platform::Sync, file);
  }
  int LockFile(Handle file, bool exclusive, bool wait) override {
    Wrote("lock", NameOf(file));
    return base().LockFile(file, exclusive, wait);
  }
  int ReadLink(Handle dir, const std::string& name,
               std::string* target) override {
    return Pass(Kind::kRead, name, &Platform::ReadLink, dir, name, target);
  }
  int MakeLink(Handle dir, const std::string& name, const std::string& target,
               Handle* out) override {
    Wrote("link", name);
    return Opened(
        Pass(Kind::kOpen, name, &Platform::MakeLink, dir, name, target, out),
        name, out);
  }
  int SetOwner(Handle dir, const std::string& name, uint32_t owner,
               uint32_t group) override {
    Wrote("set-owner", Named(dir, name));
    return Pass(Kind::kSetOwner, Named(dir, name), &Platform::SetOwner, dir,
                name, owner, group);
  }
  int MakePrivateFolder(Handle dir, const std::string& name) override {
    Wrote("mkdir", name);
    return Pass(Kind::kMkdir, name, &Platform::MakePrivateFolder, dir, name);
  }
  int Seek(Handle file, int64_t offset, SeekTo to, int64_t* position) override {
    return Pass(Kind::kRead, NameOf(file), &Platform::Seek, file, offset, to,
                position);
  }
  int SetLength(Handle file, int64_t length) override {
    Wrote("write", NameOf(file));
    return Pass(Kind::kWrite, NameOf(file), &Platform::SetLength, file, length);
  }
  int ListAttributes(Handle dir, const std::string& name,
                     std::vector<std::string>* names) override {
    return Pass(Kind::kAttributes, Named(dir, name), &Platform::ListAttributes,
                dir, name, names);
  }
  int GetAttribute(Handle dir, const std::string& name,
                   const std::string& attribute, std::string* value) override {
    return Pass(Kind::kAttributes, Named(dir, name), &Platform::GetAttribute,
                dir, name, attribute, value);
  }
  int SetAttribute(Handle dir, const std::string& name,
                   const std::string& attribute,
                   const std::string& value) override {
    Wrote("attribute", Named(dir, name));
    return Pass(Kind::kAttributes, Named(dir, name), &Platform::SetAttribute,
                dir, name, attribute, value);
  }
  int RemoveAttribute(Handle dir, const std::string& name,
                      const std::string& attribute) override {
    Wrote("attribute", Named(dir, name));
    return Pass(Kind::kAttributes, Named(dir, name), &Platform::RemoveAttribute,
                dir, name, attribute);
  }
  int SetMode(Handle dir, const std::string& name, uint32_t mode) override {
    Wrote("set-mode", Named(dir, name));
    return Pass(Kind::kSetTimes, Named(dir, name), &Platform::SetMode, dir,
                name, mode);
  }
  int MakeHardLink(Handle from_dir, const std::string& from_name, Handle to_dir,
                   const std::string& to_name) override {
    Wrote("link", to_name);
    return Pass(Kind::kOpen, to_name, &Platform::MakeHardLink, from_dir,
                from_name, to_dir, to_name);
  }
  int StoredName(Handle dir, const std::string& name,
                 std::string* stored) override {
    return Pass(Kind::kStat, name, &Platform::StoredName, dir, name, stored);
  }
  int SyncFileSystem(Handle dir) override {
    Wrote("flush", NameOf(dir));
    return Pass(Kind::kFlush, NameOf(dir), &Platform::SyncFileSystem, dir);
  }
  int EndReadLease(Handle file) override { return base_.EndReadLease(file); }
  bool MayChangeOwners() override { return base_.MayChangeOwners(); }
  void StartWriteBack(Handle file) override { base_.StartWriteBack(file); }
  int FolderFoldsCase(Handle dir, bool* folds) override {
    return base_.FolderFoldsCase(dir, folds);
  }

 protected:
  /// The system's platform, where every call ends.
  Platform& base() { return base_; }

 private:
  Platform& base_ = DefaultPlatform();
  // Fails the call or passes it on to the system's platform; the call itself
  // is made outside the lock, so that copies on several threads overlap.
  template <typename Call, typename... Args>
  int Pass(Kind kind, const std::string& name, Call call, Args&&... args) {
    if (int error = Fail(kind, name)) return error;
    return (base().*call)(std::forward<Args>(args)...);
  }
  // A call on `dir` itself names no entry.
  std::string Named(Handle dir, const std::string& name) const {
    return name.empty() ? NameOf(dir) : name;
  }
  // `name` is what a fault's name is looked for in; `record`, when given,
  // what the call is recorded under instead.
  int Fail(Kind kind, const std::string& name, const std::string& record = {}) {
    std::lock_guard lock(mutex_);
    Record(kind, record.empty() ? name : record);
    if (before_call) {
      const auto hook = before_call;  // a copy: the hook may replace itself
      hook_thread_ = std::this_thread::get_id();
      hook(kind, name);
      hook_thread_ = {};
    }
    return Matches(kind, name);
  }
  // Remove and Close: no hook, which runs only before calls that may fail.
  int Cleanup(Kind kind, const std::string& name) {
    std::lock_guard lock(mutex_);
    Record(kind, name);
    return Matches(kind, name);
  }
  void Record(Kind kind, const std::string& name) {
    static const char* const kNames[] = {
        "none",      "list",   "stat",  "open",  "read",      "write",
        "set-times", "rename", "mkdir", "flush", "set-owner", "attributes",
        "create",    "status", "sync",  "close", "remove"};
    calls_.push_back(kNames[static_cast<int>(kind)] + (" " + name));
  }
  void Wrote(const char* what, const std::string& name) {
    std::lock_guard lock(mutex_);
    writes_.push_back(what + (" " + name));
  }
  int Opened(int error, const std::string& name, Handle* out) {
    std::lock_guard lock(mutex_);
    if (error == 0) names_[*out] = name;
    return error;
  }
  int Matches(Kind kind, const std::string& name) {
    if (kind != fail_kind || name.find(fail_name) == std::string::npos)
      return 0;
    if (fail_thread_ != std::thread::id() &&
        fail_thread_ != std::this_thread::get_id())
      return 0;
    const bool once = nth_ != 0;
    if (once && --nth_ != 0) return 0;
    if (once) fail_kind = Kind::kNone;
    ++failures;
    return fail_error;
  }
  size_t Limited(size_t size) const {
    return chunk_limit ? std::min(size, chunk_limit) : size;
  }
  std::string NameOf(Handle handle) const {
    std::lock_guard lock(mutex_);
    auto it = names_.find(handle);
    return it == names_.end() ? std::string() : it->second;
  }

  // A run reads files ahead and copies on threads of its own; the hooks and
  // counters see one call at a time, and a hook may call in again. The
  // calls themselves are made outside it.
  mutable std::recursive_mutex mutex_;
  std::thread::id hook_thread_;
  std::thread::id fail_thread_;
  int nth_ = 0;
  std::map<Handle, std::string> names_;
  std::vector<std::string> calls_;
  std::vector<std::string> writes_;
};

/// Names looked up or opened also find entries differing only in case: in
/// every folder, as on FAT, or (once FoldIn was called) only in the folders
/// given, as ext4 folds case in folders with the casefold attribute.
/// `reverse_listing` lists every folder in the opposite order. Which names
/// are one is `one_name`'s to say: letter case in ASCII unless set.
class CaseFoldingPlatform : public FaultyPlatform {
 public:
  bool reverse_listing = false;
  /// Renaming onto a name stored in another spelling keeps the stored
  /// spelling, as ext4's casefold folders do; else the new one, as FAT.
  bool rename_keeps_stored = false;
  std::function<bool(const std::string&, const std::string&)> one_name =
      [](const std::string& a, const std::string& b) {
        return strcasecmp(a.c_str(), b.c_str()) == 0;
      };

  /// Folds case in the folder `path` only (and in the others given so).
  void FoldIn(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) folding_.push_back(st.st_ino);
  }

  int Open(Handle dir, const std::string& name, OpenMode mode,
           Handle* out) override {
    return FaultyPlatform::Open(dir, Stored(dir, name), mode, out);
  }
  int CreateFile(Handle dir, const std::string& name, uint32_t bits,
                 Handle* out, FileInfo* made) override {
    return FaultyPlatform::CreateFile(dir, Stored(dir, name), bits, out, made);
  }
  int Stat(Handle dir, const std::string& name, bool follow_link,
           FileInfo* info) override {
    return FaultyPlatform::Stat(dir, Stored(dir, name), follow_link, info);
  }
  int Rename(Handle dir, const std::string& from,
             const std::string& to) override {
    const std::string stored = Stored(dir, to);
    if (stored != to && rename_keeps_stored)
      return FaultyPlatform::Rename(dir, from, stored);
    if (stored != to) FaultyPlatform::Remove(dir, stored);
    return FaultyPlatform::Rename(dir, from, to);
  }
  int StoredName(Handle dir, const std::string& name,
                 std::string* stored) override {
    *stored = Stored(dir, name);
    return FaultyPlatform::StoredName(dir, *stored, stored);
  }
  int ListFolder(Handle dir, std::vector<DirEntry>* entries,
                 FileId* self) override {
    const int error = FaultyPlatform::ListFolder(dir, entries, self);
    if (reverse_listing) std::reverse(entries->begin(), entries->end());
    return error;
  }
  int FolderFoldsCase(Handle dir, bool* folds) override {
    if (folding_.empty()) return ENOTTY;  // as FAT: only a probe tells
    *folds = Folds(dir);
    return 0;
  }

 private:
  bool Folds(Handle dir) const {
    if (folding_.empty()) return true;
    struct stat st;
    return fstat(dir, &st) == 0 && std::find(folding_.begin(), folding_.end(),
                                             st.st_ino) != folding_.end();
  }
  std::string Stored(Handle dir, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || dir < 0 ||
        !Folds(dir))
      return name;
    std::vector<DirEntry> entries;
    FileId self;
    if (base().ListFolder(dir, &entries, &self) != 0) return name;
    for (const DirEntry& entry : entries)
      if (entry.name == name) return name;
    for (const DirEntry& entry : entries)
      if (one_name(entry.name, name)) return entry.name;
    return name;
  }

  std::vector<ino_t> folding_;
};

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_TEST_PLATFORMS_H_
