// Platforms for tests: one that fails chosen calls, one that ignores
// letter case the way FAT and exFAT do.
#ifndef FERRYBOX_TESTS_SUPPORT_TEST_PLATFORMS_H_
#define FERRYBOX_TESTS_SUPPORT_TEST_PLATFORMS_H_

#include <errno.h>
#include <strings.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/platform.h"

namespace ferrybox::testing {

/// Wraps another platform the way leveldb's ErrorEnv wraps its Env: every
/// call goes through to it, except the calls a fault picks, which fail with
/// the fault's errno without reaching it. Calls on a handle count under the
/// name the handle was opened with; a rename counts under its new name; a
/// kernel copy counts as one read of its source and one write of its
/// destination. Remove and Close never fail.
class FaultyPlatform : public Platform {
 public:
  enum class Kind {
    kNone,
    kList,
    kStat,
    kOpen,
    kRead,
    kWrite,
    kSetTimes,
    kRename,
    kMkdir
  };
  static constexpr Kind kAllKinds[] = {
      Kind::kList,  Kind::kStat,     Kind::kOpen,   Kind::kRead,
      Kind::kWrite, Kind::kSetTimes, Kind::kRename, Kind::kMkdir};

  static const char* KindName(Kind kind) {
    switch (kind) {
      case Kind::kNone:
        return "none";
      case Kind::kList:
        return "list";
      case Kind::kStat:
        return "stat";
      case Kind::kOpen:
        return "open";
      case Kind::kRead:
        return "read";
      case Kind::kWrite:
        return "write";
      case Kind::kSetTimes:
        return "set-times";
      case Kind::kRename:
        return "rename";
      case Kind::kMkdir:
        return "mkdir";
    }
    return "?";
  }

  explicit FaultyPlatform(Platform& base = DefaultPlatform()) : base_(base) {}

  /// A standing fault: every call of `fail_kind` on a name containing
  /// `fail_name` fails with `fail_error`.
  Kind fail_kind = Kind::kNone;
  std::string fail_name;
  int fail_error = EIO;
  /// Calls failed so far, by any fault.
  int failures = 0;

  /// Fails the `nth` call (counting from 1, from now on) of `kind` on a
  /// name containing `name`, and the `times - 1` such calls after it
  /// (`times` 0: every one after it).
  void FailNth(Kind kind, int nth, int error, std::string name = {},
               int times = 1) {
    planned_.push_back(Planned{kind, error, std::move(name), nth, times, 0});
  }
  /// The faults are gone: every call goes through from now on, and
  /// before_call is dropped.
  void Heal() {
    planned_.clear();
    fail_kind = Kind::kNone;
    before_call = nullptr;
  }

  /// Called before every call that may fail, with its kind and name, so a
  /// test can change the tree at an exact moment of a run.
  std::function<void(Kind kind, const std::string& name)> before_call;

  /// When not 0, one Read or kernel copy moves at most this many bytes, as
  /// a system may: a large file then takes many calls.
  size_t chunk_limit = 0;

  /// Listings say nothing of entry types, as on file systems that do not
  /// store them: every caller must look each entry up.
  bool hide_entry_types = false;

  /// Calls of `kind` made so far, failed or not.
  int calls(Kind kind) const { return calls_[static_cast<int>(kind)]; }
  /// Every name Open was given, in order.
  const std::vector<std::string>& opened() const { return opened_; }
  /// Handles open now; a test checks that nothing leaks.
  size_t open_handles() const { return names_.size(); }

  int Open(Handle dir, const std::string& name, OpenMode mode,
           Handle* out) override {
    opened_.push_back(name);
    if (int error = Fail(Kind::kOpen, name)) return error;
    int error = base_.Open(dir, name, mode, out);
    if (error == 0) names_[*out] = name;
    return error;
  }
  int ListFolder(Handle dir, std::vector<DirEntry>* entries,
                 FileId* self) override {
    if (int error = Fail(Kind::kList, NameOf(dir))) return error;
    const int error = base_.ListFolder(dir, entries, self);
    if (hide_entry_types)
      for (DirEntry& entry : *entries) entry.type = EntryType::kUnknown;
    return error;
  }
  int Stat(Handle dir, const std::string& name, bool follow_link,
           FileInfo* info) override {
    if (int error = Fail(Kind::kStat, name.empty() ? NameOf(dir) : name))
      return error;
    return base_.Stat(dir, name, follow_link, info);
  }
  int Read(Handle file, char* buffer, size_t size, size_t* got) override {
    if (int error = Fail(Kind::kRead, NameOf(file))) return error;
    return base_.Read(file, buffer, Limited(size), got);
  }
  int Write(Handle file, const char* buffer, size_t size) override {
    if (int error = Fail(Kind::kWrite, NameOf(file))) return error;
    return base_.Write(file, buffer, size);
  }
  int CopyRange(Handle from, Handle to, int64_t size,
                int64_t* copied) override {
    if (int error = Fail(Kind::kWrite, NameOf(to))) return error;
    if (int error = Fail(Kind::kRead, NameOf(from))) return error;
    return base_.CopyRange(from, to, static_cast<int64_t>(Limited(size)),
                           copied);
  }
  int Finish(Handle file, uint32_t mode, int64_t atime_ns, int64_t mtime_ns,
             int64_t* stored_mtime_ns) override {
    if (int error = Fail(Kind::kSetTimes, NameOf(file))) return error;
    return base_.Finish(file, mode, atime_ns, mtime_ns, stored_mtime_ns);
  }
  int SetTimes(Handle dir, const std::string& name, int64_t atime_ns,
               int64_t mtime_ns, int64_t* stored_mtime_ns) override {
    if (int error = Fail(Kind::kSetTimes, name)) return error;
    return base_.SetTimes(dir, name, atime_ns, mtime_ns, stored_mtime_ns);
  }
  int Rename(Handle dir, const std::string& from,
             const std::string& to) override {
    if (int error = Fail(Kind::kRename, to)) return error;
    return base_.Rename(dir, from, to);
  }
  int MakeFolder(Handle dir, const std::string& name) override {
    if (int error = Fail(Kind::kMkdir, name)) return error;
    return base_.MakeFolder(dir, name);
  }
  int Remove(Handle dir, const std::string& name) override {
    return base_.Remove(dir, name);
  }
  int Close(Handle handle) override {
    names_.erase(handle);
    return base_.Close(handle);
  }

 private:
  struct Planned {
    Kind kind;
    int error;
    std::string name;
    int nth;
    int times;
    int seen;
  };

  int Fail(Kind kind, const std::string& name) {
    ++calls_[static_cast<int>(kind)];
    if (before_call) {
      // A copy, so that the hook may replace itself.
      const auto hook = before_call;
      hook(kind, name);
    }
    int error = 0;
    for (Planned& fault : planned_) {
      if (fault.kind != kind || name.find(fault.name) == std::string::npos)
        continue;
      ++fault.seen;
      if (error == 0 && fault.seen >= fault.nth &&
          (fault.times == 0 || fault.seen < fault.nth + fault.times))
        error = fault.error;
    }
    if (error == 0 && kind == fail_kind &&
        name.find(fail_name) != std::string::npos)
      error = fail_error;
    if (error != 0) ++failures;
    return error;
  }
  size_t Limited(size_t size) const {
    return chunk_limit == 0 ? size : std::min(size, chunk_limit);
  }
  std::string NameOf(Handle handle) const {
    auto it = names_.find(handle);
    return it == names_.end() ? std::string() : it->second;
  }

  Platform& base_;
  std::vector<Planned> planned_;
  int calls_[9] = {};
  std::vector<std::string> opened_;
  std::map<Handle, std::string> names_;
};

/// The system's platform, except that a name looked up or opened in any
/// folder also finds an entry whose name differs only in letter case, as on
/// FAT and exFAT.
class CaseFoldingPlatform : public FaultyPlatform {
 public:
  int Open(Handle dir, const std::string& name, OpenMode mode,
           Handle* out) override {
    return FaultyPlatform::Open(dir, Stored(dir, name), mode, out);
  }
  int Stat(Handle dir, const std::string& name, bool follow_link,
           FileInfo* info) override {
    return FaultyPlatform::Stat(dir, Stored(dir, name), follow_link, info);
  }
  /// Replacing a name that differs only in case leaves the new case, as
  /// the FAT drivers do.
  int Rename(Handle dir, const std::string& from,
             const std::string& to) override {
    const std::string stored = Stored(dir, to);
    if (stored != to) FaultyPlatform::Remove(dir, stored);
    return FaultyPlatform::Rename(dir, from, to);
  }

 private:
  std::string Stored(Handle dir, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || dir < 0)
      return name;
    std::vector<DirEntry> entries;
    FileId self;
    if (DefaultPlatform().ListFolder(dir, &entries, &self) != 0) return name;
    for (const DirEntry& entry : entries)
      if (entry.name == name) return name;
    for (const DirEntry& entry : entries)
      if (strcasecmp(entry.name.c_str(), name.c_str()) == 0) return entry.name;
    return name;
  }
};

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_TEST_PLATFORMS_H_
