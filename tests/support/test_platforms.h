// Platforms for tests: one that fails chosen calls, one that ignores
// letter case the way FAT and exFAT do.
#ifndef FERRYBOX_TESTS_SUPPORT_TEST_PLATFORMS_H_
#define FERRYBOX_TESTS_SUPPORT_TEST_PLATFORMS_H_

#include <errno.h>
#include <strings.h>

#include <map>
#include <string>
#include <vector>

#include "engine/platform.h"

namespace ferrybox::testing {

/// Passes every call to the system's platform, except that calls of
/// `fail_kind` on a name containing `fail_name` fail with `fail_error`.
/// Calls on a handle count under the name the handle was opened with.
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

  Kind fail_kind = Kind::kNone;
  std::string fail_name;
  int fail_error = EIO;
  int failures = 0;

  int Open(Handle dir, const std::string& name, OpenMode mode,
           Handle* out) override {
    if (int error = Fail(Kind::kOpen, name)) return error;
    int error = real_.Open(dir, name, mode, out);
    if (error == 0) names_[*out] = name;
    return error;
  }
  int ListFolder(Handle dir, std::vector<DirEntry>* entries,
                 FileId* self) override {
    if (int error = Fail(Kind::kList, NameOf(dir))) return error;
    return real_.ListFolder(dir, entries, self);
  }
  int Stat(Handle dir, const std::string& name, bool follow_link,
           FileInfo* info) override {
    if (int error = Fail(Kind::kStat, name.empty() ? NameOf(dir) : name))
      return error;
    return real_.Stat(dir, name, follow_link, info);
  }
  int Read(Handle file, char* buffer, size_t size, size_t* got) override {
    if (int error = Fail(Kind::kRead, NameOf(file))) return error;
    return real_.Read(file, buffer, size, got);
  }
  int Write(Handle file, const char* buffer, size_t size) override {
    if (int error = Fail(Kind::kWrite, NameOf(file))) return error;
    return real_.Write(file, buffer, size);
  }
  int CopyRange(Handle from, Handle to, int64_t size,
                int64_t* copied) override {
    if (int error = Fail(Kind::kWrite, NameOf(to))) return error;
    if (int error = Fail(Kind::kRead, NameOf(from))) return error;
    return real_.CopyRange(from, to, size, copied);
  }
  int Finish(Handle file, uint32_t mode, int64_t atime_ns, int64_t mtime_ns,
             int64_t* stored_mtime_ns) override {
    if (int error = Fail(Kind::kSetTimes, NameOf(file))) return error;
    return real_.Finish(file, mode, atime_ns, mtime_ns, stored_mtime_ns);
  }
  int SetTimes(Handle dir, const std::string& name, int64_t atime_ns,
               int64_t mtime_ns, int64_t* stored_mtime_ns) override {
    if (int error = Fail(Kind::kSetTimes, name)) return error;
    return real_.SetTimes(dir, name, atime_ns, mtime_ns, stored_mtime_ns);
  }
  int Rename(Handle dir, const std::string& from,
             const std::string& to) override {
    if (int error = Fail(Kind::kRename, to)) return error;
    return real_.Rename(dir, from, to);
  }
  int MakeFolder(Handle dir, const std::string& name) override {
    if (int error = Fail(Kind::kMkdir, name)) return error;
    return real_.MakeFolder(dir, name);
  }
  int Remove(Handle dir, const std::string& name) override {
    return real_.Remove(dir, name);
  }
  int Close(Handle handle) override {
    names_.erase(handle);
    return real_.Close(handle);
  }

  /// Handles open now; a test checks that nothing leaks.
  size_t open_handles() const { return names_.size(); }

 private:
  int Fail(Kind kind, const std::string& name) {
    if (kind != fail_kind || name.find(fail_name) == std::string::npos)
      return 0;
    ++failures;
    return fail_error;
  }
  std::string NameOf(Handle handle) const {
    auto it = names_.find(handle);
    return it == names_.end() ? std::string() : it->second;
  }

  Platform& real_ = DefaultPlatform();
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
