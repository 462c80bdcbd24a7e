// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own files on Linux: plain path-based calls.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_system.h"

namespace ferrybox {
namespace {

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

class PosixFileSystem : public FileSystem {
 public:
  int OpenForReading(const std::string& path, File* out) override {
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    *out = fd;
    return 0;
  }

  int OpenForWriting(const std::string& path, WriteMode mode,
                     File* out) override {
    const int fd = open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    *out = fd;
    return 0;
  }

  int LockFile(File file, bool exclusive, bool wait) override {
    const int operation =
        (exclusive ? LOCK_EX : LOCK_SH) | (wait ? 0 : LOCK_NB);
    for (;;) {
      if (flock(file, operation) == 0) return 0;
      if (errno != EINTR) return errno;
    }
  }

  int Status(File file, FileStatus* status) override {
    struct stat st;
    if (fstat(file, &st) != 0) return errno;
    status->regular = S_ISREG(st.st_mode);
    status->size = static_cast<uint64_t>(st.st_size);
    return 0;
  }

  int Read(File file, char* buffer, std::size_t size,
           std::size_t* got) override {
    for (;;) {
      const ssize_t n = read(file, buffer, size);
      if (n >= 0) {
        *got = static_cast<std::size_t>(n);
        return 0;
      }
      if (errno != EINTR) return errno;
    }
  }

  int Write(File file, std::string_view data) override {
    while (!data.empty()) {
      const ssize_t n = write(file, data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (n == 0) return EIO;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
  }

  int Sync(File file) override {
    if (fsync(file) != 0) return errno;
    return 0;
  }

  int Close(File file) override {
    if (file < 0) return EBADF;
    // Linux releases the descriptor even when close reports an error, so
    // it is never retried.
    if (close(file) != 0 && errno != EINTR) return errno;
    return 0;
  }

  int Rename(const std::string& from, const std::string& to) override {
    if (rename(from.c_str(), to.c_str()) != 0) return errno;
    return 0;
  }

  int Remove(const std::string& path) override {
    if (unlink(path.c_str()) != 0) return errno;
    return 0;
  }

  int MakeFolder(const std::string& path, uint32_t mode) override {
    if (mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0) return errno;
    return 0;
  }
};

}  // namespace

FileSystem& DefaultFileSystem() {
  static PosixFileSystem* file_system = new PosixFileSystem();
  return *file_system;
}

}  // namespace ferrybox
