// SPDX-License-Identifier: GPL-3.0-or-later
// The platform on Linux: openat-family calls, getdents through readdir,
// copy_file_range.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/read_lease_posix.h"

namespace ferrybox {
namespace {

// The casefold attribute of a folder (chattr +F), as FS_IOC_GETFLAGS
// reports it; older kernel headers lack the name.
#ifdef FS_CASEFOLD_FL
constexpr int kCaseFoldFlag = FS_CASEFOLD_FL;
#else
constexpr int kCaseFoldFlag = 0x40000000;
#endif

int Fd(Handle dir) { return dir == kWorkingFolder ? AT_FDCWD : dir; }

int OpenFlags(WriteMode mode) {
  switch (mode) {
    case WriteMode::kCreateExclusive:
      return O_WRONLY | O_CREAT | O_EXCL;
    case WriteMode::kTruncate:
      return O_WRONLY | O_CREAT | O_TRUNC;
    case WriteMode::kAppend:
      return O_WRONLY | O_CREAT | O_APPEND;
  }
  return O_WRONLY;
}

EntryType TypeOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryType::kFile;
  if (S_ISDIR(mode)) return EntryType::kFolder;
  if (S_ISLNK(mode)) return EntryType::kLink;
  return EntryType::kOther;
}

EntryType TypeOfDirent(unsigned char d_type) {
  switch (d_type) {
    case DT_REG:
      return EntryType::kFile;
    case DT_DIR:
      return EntryType::kFolder;
    case DT_LNK:
      return EntryType::kLink;
    case DT_UNKNOWN:
      return EntryType::kUnknown;
    default:
      return EntryType::kOther;
  }
}

FileTime TimeOf(const struct timespec& time) {
  return FileTime{static_cast<int64_t>(time.tv_sec),
                  static_cast<int64_t>(time.tv_nsec)};
}

struct timespec Timespec(FileTime time) {
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(time.seconds);
  ts.tv_nsec = static_cast<long>(time.nanoseconds);
  return ts;
}

// fchmod on a file we just created fails only where the file system has no
// place for the bits: FAT through FUSE answers ENOSYS, the kernel's FAT
// EPERM for bits it cannot show. The copy is still good.
bool KeepsNoPermissions(int error) {
  return error == EPERM || error == ENOSYS || error == EOPNOTSUPP ||
         error == ENOTSUP;
}

void FillInfo(const struct stat& st, FileInfo* info) {
  info->type = TypeOfMode(st.st_mode);
  info->size = st.st_size;
  info->mtime = TimeOf(st.st_mtim);
  info->atime = TimeOf(st.st_atim);
  info->ctime = TimeOf(st.st_ctim);
  info->mode = st.st_mode & 07777;
  info->owner = static_cast<uint32_t>(st.st_uid);
  info->group = static_cast<uint32_t>(st.st_gid);
  info->id = FileId{static_cast<uint64_t>(st.st_dev),
                    static_cast<uint64_t>(st.st_ino)};
  info->links = static_cast<uint32_t>(st.st_nlink);
  info->allocated = static_cast<int64_t>(st.st_blocks) * 512;
}

// The attribute calls have no form that takes a folder handle and a name:
// the entry is reached through the handle's own entry in /proc, which works
// for handles opened only to pass through (O_PATH) too.
std::string ProcPath(Handle dir, const std::string& name) {
  if (dir == kWorkingFolder) return name.empty() ? "." : name;
  std::string path = "/proc/self/fd/" + std::to_string(dir);
  if (!name.empty()) path += "/" + name;
  return path;
}

// Calls `call(buffer, size)` (a list or get call) with a buffer as large as
// the answer needs, which may grow between the two calls.
template <typename Call>
int ReadSized(Call call, std::string* out) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = call(nullptr, 0);
    if (size < 0) return errno;
    out->resize(static_cast<size_t>(size));
    if (size == 0) return 0;
    const ssize_t got = call(out->data(), out->size());
    if (got >= 0) {
      out->resize(static_cast<size_t>(got));
      return 0;
    }
    if (errno != ERANGE) return errno;
  }
  return ERANGE;
}

// A new file for writing, never through a link nor over another entry.
constexpr int kCreateNew = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY;

class PosixPlatform : public Platform {
 public:
  int Open(Handle dir, const std::string& name, OpenMode mode,
           Handle* out) override {
    int flags = O_CLOEXEC;
    mode_t create_mode = 0;
    switch (mode) {
      case OpenMode::kFolder:
        flags |= O_RDONLY | O_DIRECTORY;
        break;
      case OpenMode::kFolderNoFollow:
        flags |= O_RDONLY | O_DIRECTORY | O_NOFOLLOW;
        break;
      case OpenMode::kReadFile:
        // O_NONBLOCK: a FIFO put in place of a file must not hang the run.
        flags |= O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW;
        break;
      case OpenMode::kCreateExclusive:
        flags |= kCreateNew;
        create_mode = 0600;
        break;
    }
    int fd = openat(Fd(dir), name.c_str(), flags, create_mode);
    if (fd < 0 && errno == EACCES &&
        (mode == OpenMode::kFolder || mode == OpenMode::kFolderNoFollow)) {
      // A folder we may pass through but not list: good enough to reach
      // what lies below it.
      fd = openat(Fd(dir), name.c_str(),
                  (flags & (O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) | O_PATH);
    }
    if (fd < 0) return errno;
    *out = fd;
    return 0;
  }

  int CreateFile(Handle dir, const std::string& name, uint32_t bits,
                 Handle* out, FileInfo* made) override {
    const int fd = openat(Fd(dir), name.c_str(), kCreateNew | O_CLOEXEC,
                          static_cast<mode_t>(bits & 0777));
    if (fd < 0) return errno;
    *out = fd;
    // What the create's answer told: a share keeps it without a round trip.
    *made = FileInfo{};
    constexpr unsigned kWanted =
        STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID;
    struct statx st;
    if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, kWanted, &st) == 0 &&
        (st.stx_mask & kWanted) == kWanted) {
      made->type = TypeOfMode(st.stx_mode);
      made->mode = st.stx_mode & 07777;
      made->owner = st.stx_uid;
      made->group = st.stx_gid;
    }
    return 0;
  }

  int ListFolder(Handle dir, std::vector<DirEntry>* entries,
                 FileId* self) override {
    struct stat st;
    if (fstat(Fd(dir), &st) != 0) return errno;
    *self = FileId{static_cast<uint64_t>(st.st_dev),
                   static_cast<uint64_t>(st.st_ino)};
    // fdopendir takes over the descriptor it is given; list a duplicate so
    // the caller's handle stays open. A folder held only as a place (one the
    // user may pass through but not read) is opened for reading here, so
    // that what stops the listing is told as the system tells it.
    const int held_as = fcntl(Fd(dir), F_GETFL);
    if (held_as < 0) return errno;
    int fd = (held_as & O_PATH) != 0
                 ? openat(Fd(dir), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                 : fcntl(Fd(dir), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return errno;
    DIR* stream = fdopendir(fd);
    if (stream == nullptr) {
      int error = errno;
      close(fd);
      return error;
    }
    rewinddir(stream);
    int error = 0;
    for (;;) {
      errno = 0;
      struct dirent* entry = readdir(stream);
      if (entry == nullptr) {
        error = errno;
        break;
      }
      const char* name = entry->d_name;
      if (name[0] == '.' &&
          (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
        continue;
      entries->push_back(DirEntry{name, TypeOfDirent(entry->d_type)});
    }
    closedir(stream);
    return error;
  }

  int Stat(Handle dir, const std::string& name, bool follow_link,
           FileInfo* info) override {
    struct stat st;
    int flags = follow_link ? 0 : AT_SYMLINK_NOFOLLOW;
    if (name.empty()) flags |= AT_EMPTY_PATH;
    if (fstatat(Fd(dir), name.c_str(), &st, flags) != 0) return errno;
    FillInfo(st, info);
    return 0;
  }

  int Read(Handle file, char* buffer, size_t size, size_t* got) override {
    for (;;) {
      ssize_t n = read(file, buffer, size);
      if (n >= 0) {
        *got = static_cast<size_t>(n);
        return 0;
      }
      if (errno != EINTR) return errno;
    }
  }

  int Write(Handle file, const char* buffer, size_t size) override {
    while (size > 0) {
      ssize_t n = write(file, buffer, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (n == 0) return EIO;
      buffer += n;
      size -= static_cast<size_t>(n);
    }
    return 0;
  }

  int CopyRange(Handle from, Handle to, int64_t size,
                int64_t* copied) override {
    for (;;) {
      ssize_t n = copy_file_range(from, nullptr, to, nullptr,
                                  static_cast<size_t>(size), 0);
      if (n >= 0) {
        *copied = n;
        return 0;
      }
      if (errno != EINTR) return errno;
    }
  }

  int Finish(Handle file, std::optional<uint32_t> mode, FileTime atime,
             FileTime mtime, FileTime* stored_mtime) override {
    if (mode && fchmod(file, static_cast<mode_t>(*mode & 07777)) != 0 &&
        !KeepsNoPermissions(errno))
      return errno;
    struct timespec times[2] = {Timespec(atime), Timespec(mtime)};
    if (futimens(file, times) != 0) return errno;
    if (stored_mtime == nullptr) return 0;
    struct stat st;
    if (fstat(file, &st) != 0) return errno;
    *stored_mtime = TimeOf(st.st_mtim);
    return 0;
  }

  int SetTimes(Handle dir, const std::string& name, FileTime atime,
               FileTime mtime, FileTime* stored_mtime) override {
    struct timespec times[2] = {Timespec(atime), Timespec(mtime)};
    const int flags = AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0);
    if (utimensat(Fd(dir), name.c_str(), times, flags) != 0) return errno;
    if (stored_mtime == nullptr) return 0;
    struct stat st;
    if (fstatat(Fd(dir), name.c_str(), &st, flags) != 0) return errno;
    *stored_mtime = TimeOf(st.st_mtim);
    return 0;
  }

  int TakeReadLease(Handle file) override {
    return ferrybox::TakeReadLease(file);
  }

  int EndReadLease(Handle file) override {
    return ferrybox::EndReadLease(file);
  }

  int LockFolder(Handle dir) override {
    for (;;) {
      if (flock(dir, LOCK_EX | LOCK_NB) == 0) return 0;
      if (errno != EINTR) return errno;
    }
  }

  int Rename(Handle dir, const std::string& from,
             const std::string& to) override {
    if (renameat(Fd(dir), from.c_str(), Fd(dir), to.c_str()) != 0) return errno;
    return 0;
  }

  int MakeFolder(Handle dir, const std::string& name) override {
    if (mkdirat(Fd(dir), name.c_str(), 0777) != 0) return errno;
    return 0;
  }

  int Remove(Handle dir, const std::string& name) override {
    if (unlinkat(Fd(dir), name.c_str(), 0) != 0) return errno;
    return 0;
  }

  int MoveEntry(Handle from_dir, const std::string& from, Handle to_dir,
                const std::string& to) override {
    if (renameat2(Fd(from_dir), from.c_str(), Fd(to_dir), to.c_str(),
                  RENAME_NOREPLACE) == 0)
      return 0;
    if (errno != EINVAL) return errno;
    // A file system without the flag (FAT through FUSE): the name is looked
    // up first. The folders moved into are the program's own, owner-only.
    struct stat st;
    if (fstatat(Fd(to_dir), to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
      return EEXIST;
    if (errno != ENOENT) return errno;
    if (renameat(Fd(from_dir), from.c_str(), Fd(to_dir), to.c_str()) != 0)
      return errno;
    return 0;
  }

  int RemoveFolder(Handle dir, const std::string& name) override {
    if (unlinkat(Fd(dir), name.c_str(), AT_REMOVEDIR) != 0) return errno;
    return 0;
  }

  int Close(Handle handle) override {
    if (handle < 0) return EBADF;
    // Linux releases the descriptor even when close reports an error, so
    // it is never retried.
    if (close(handle) != 0 && errno != EINTR) return errno;
    return 0;
  }
  int Duplicate(Handle handle, Handle* out) override {
    const int copy = fcntl(handle, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return errno;
    *out = copy;
    return 0;
  }

  int OpenForReading(const std::string& path, Handle* out) override {
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    *out = fd;
    return 0;
  }

  int OpenForWriting(const std::string& path, WriteMode mode,
                     Handle* out) override {
    const int fd =
        open(path.c_str(), OpenFlags(mode) | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return errno;
    *out = fd;
    return 0;
  }

  int Status(Handle file, FileStatus* status) override {
    struct stat st;
    if (fstat(file, &st) != 0) return errno;
    status->regular = S_ISREG(st.st_mode);
    status->size = static_cast<uint64_t>(st.st_size);
    return 0;
  }

  int Sync(Handle file) override {
    if (fsync(file) != 0) return errno;
    return 0;
  }

  int LockFile(Handle file, bool exclusive, bool wait) override {
    const int operation =
        (exclusive ? LOCK_EX : LOCK_SH) | (wait ? 0 : LOCK_NB);
    for (;;) {
      if (flock(file, operation) == 0) return 0;
      if (errno != EINTR) return errno;
    }
  }

  int ReadLink(Handle dir, const std::string& name,
               std::string* target) override {
    // A target is at most PATH_MAX bytes; a result that fills the buffer
    // may have been cut.
    std::string text(PATH_MAX + 1, '\0');
    const ssize_t n =
        readlinkat(Fd(dir), name.c_str(), text.data(), text.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) >= text.size()) return ENAMETOOLONG;
    text.resize(static_cast<size_t>(n));
    *target = std::move(text);
    return 0;
  }

  int MakeLink(Handle dir, const std::string& name, const std::string& target,
               Handle* out) override {
    if (symlinkat(target.c_str(), Fd(dir), name.c_str()) != 0) return errno;
    const int fd =
        openat(Fd(dir), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? EEXIST : errno;
    // Between the two calls someone who may write in `dir` could have put
    // something else under the name. A link with our target text is as
    // good as ours; anything else is theirs.
    std::string made;
    if (ReadLink(fd, "", &made) != 0 || made != target) {
      close(fd);
      return EEXIST;
    }
    *out = fd;
    return 0;
  }

  bool MayChangeOwners() override { return root_; }

  int SetOwner(Handle dir, const std::string& name, uint32_t owner,
               uint32_t group) override {
    const int flags = AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0);
    if (fchownat(Fd(dir), name.c_str(), static_cast<uid_t>(owner),
                 static_cast<gid_t>(group), flags) != 0)
      return errno;
    return 0;
  }

  int MakePrivateFolder(Handle dir, const std::string& name) override {
    if (mkdirat(Fd(dir), name.c_str(), 0700) != 0) return errno;
    return 0;
  }

  int Seek(Handle file, int64_t offset, SeekTo to, int64_t* position) override {
    int whence = SEEK_SET;
    if (to == SeekTo::kData) whence = SEEK_DATA;
    if (to == SeekTo::kHole) whence = SEEK_HOLE;
    const off_t at = lseek(file, static_cast<off_t>(offset), whence);
    if (at < 0) return errno;
    *position = static_cast<int64_t>(at);
    return 0;
  }

  int SetLength(Handle file, int64_t length) override {
    for (;;) {
      if (ftruncate(file, static_cast<off_t>(length)) == 0) return 0;
      if (errno != EINTR) return errno;
    }
  }

  int ListAttributes(Handle dir, const std::string& name,
                     std::vector<std::string>* names) override {
    std::string list;
    int error = 0;
    if (name.empty() && dir != kWorkingFolder)
      error = ReadSized(
          [dir](char* b, size_t n) { return flistxattr(dir, b, n); }, &list);
    if (!name.empty() || dir == kWorkingFolder || error == EBADF) {
      const std::string path = ProcPath(dir, name);
      error = ReadSized(
          [&](char* b, size_t n) {
            return name.empty() ? listxattr(path.c_str(), b, n)
                                : llistxattr(path.c_str(), b, n);
          },
          &list);
    }
    if (error != 0) return error;
    names->clear();
    for (size_t at = 0; at < list.size();) {
      const size_t end = list.find('\0', at);
      const size_t stop = end == std::string::npos ? list.size() : end;
      if (stop > at) names->push_back(list.substr(at, stop - at));
      at = stop + 1;
    }
    return 0;
  }

  int GetAttribute(Handle dir, const std::string& name,
                   const std::string& attribute, std::string* value) override {
    const char* key = attribute.c_str();
    int error = 0;
    if (name.empty() && dir != kWorkingFolder)
      error = ReadSized(
          [&](char* b, size_t n) { return fgetxattr(dir, key, b, n); }, value);
    if (!name.empty() || dir == kWorkingFolder || error == EBADF) {
      const std::string path = ProcPath(dir, name);
      error = ReadSized(
          [&](char* b, size_t n) {
            return name.empty() ? getxattr(path.c_str(), key, b, n)
                                : lgetxattr(path.c_str(), key, b, n);
          },
          value);
    }
    return error;
  }

  int SetAttribute(Handle dir, const std::string& name,
                   const std::string& attribute,
                   const std::string& value) override {
    const char* key = attribute.c_str();
    if (name.empty() && dir != kWorkingFolder) {
      if (fsetxattr(dir, key, value.data(), value.size(), 0) == 0) return 0;
      if (errno != EBADF) return errno;
    }
    const std::string path = ProcPath(dir, name);
    const int result =
        name.empty()
            ? setxattr(path.c_str(), key, value.data(), value.size(), 0)
            : lsetxattr(path.c_str(), key, value.data(), value.size(), 0);
    return result == 0 ? 0 : errno;
  }

  int RemoveAttribute(Handle dir, const std::string& name,
                      const std::string& attribute) override {
    const char* key = attribute.c_str();
    if (name.empty() && dir != kWorkingFolder) {
      if (fremovexattr(dir, key) == 0) return 0;
      if (errno != EBADF) return errno;
    }
    const std::string path = ProcPath(dir, name);
    const int result = name.empty() ? removexattr(path.c_str(), key)
                                    : lremovexattr(path.c_str(), key);
    return result == 0 ? 0 : errno;
  }

  int SetMode(Handle dir, const std::string& name, uint32_t mode) override {
    const mode_t bits = static_cast<mode_t>(mode & 07777);
    const int result = name.empty() ? fchmod(Fd(dir), bits)
                                    : fchmodat(Fd(dir), name.c_str(), bits,
                                               AT_SYMLINK_NOFOLLOW);
    return result == 0 ? 0 : errno;
  }

  int MakeHardLink(Handle from_dir, const std::string& from_name, Handle to_dir,
                   const std::string& to_name) override {
    if (linkat(Fd(from_dir), from_name.c_str(), Fd(to_dir), to_name.c_str(),
               0) != 0)
      return errno;
    return 0;
  }

  void StartWriteBack(Handle file) override {
    (void)sync_file_range(file, 0, 0, SYNC_FILE_RANGE_WRITE);
  }

  int FolderFoldsCase(Handle dir, bool* folds) override {
    int flags = 0;
    if (ioctl(Fd(dir), FS_IOC_GETFLAGS, &flags) != 0) return errno;
    *folds = (flags & kCaseFoldFlag) != 0;
    return 0;
  }

  int StoredName(Handle dir, const std::string& name,
                 std::string* stored) override {
    struct stat found;
    if (fstatat(Fd(dir), name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0)
      return errno;
    std::vector<DirEntry> entries;
    FileId self;
    stored->clear();
    if (ListFolder(dir, &entries, &self) != 0) return 0;
    // The listing holds names as stored: the name itself, else the one
    // entry that is the same file. Names sharing one file (hard links)
    // leave it untold, as do file systems that give each spelling its own
    // inode number.
    for (const DirEntry& entry : entries) {
      if (entry.name != name) continue;
      *stored = name;
      return 0;
    }
    int same = 0;
    for (const DirEntry& entry : entries) {
      struct stat st;
      if (fstatat(Fd(dir), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          st.st_dev == found.st_dev && st.st_ino == found.st_ino && ++same == 1)
        *stored = entry.name;
    }
    if (same != 1) stored->clear();
    return 0;
  }

  int SyncFileSystem(Handle dir) override {
    if (syncfs(Fd(dir)) != 0) return errno;
    return 0;
  }

 private:
  // The process never changes who it runs as: asked once.
  const bool root_ = geteuid() == 0;
};

}  // namespace

Platform& DefaultPlatform() {
  static PosixPlatform* platform = new PosixPlatform();
  return *platform;
}

}  // namespace ferrybox
