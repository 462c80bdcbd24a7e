// SPDX-License-Identifier: GPL-3.0-or-later
// The door to the program's own files, the ones outside the backup: the
// settings file, the profiles, the copy log and the program-folder probe.
#ifndef FERRYBOX_PLATFORM_FILE_SYSTEM_H_
#define FERRYBOX_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ferrybox {

/// What Status tells about an open file.
struct FileStatus {
  bool regular = false;  ///< a regular file, not a FIFO, device or folder
  uint64_t size = 0;
};

/// How OpenForWriting opens a file. A created file gets the bits 0666 less
/// the process's umask, as any program's saved file does.
enum class WriteMode {
  /// A new file; EEXIST when the name is taken, whatever the entry is.
  kCreateExclusive,
  /// Created, or emptied when it exists.
  kTruncate,
  /// Created when missing; every write goes to the end, in one piece.
  kAppend,
};

/// Every system call on the program's own files goes through here, by
/// path, so that a test can wrap it to record the calls or fail one. The
/// backup itself goes through Platform (platform/platform.h), which reaches
/// files through folder handles. Each method returns 0 or an errno value
/// and never throws.
class FileSystem {
 public:
  /// An open file; Close gives it back.
  using File = int;

  virtual ~FileSystem() = default;

  /// Opens `path` for reading. Never blocks, even on a FIFO.
  [[nodiscard]] virtual int OpenForReading(const std::string& path,
                                           File* out) = 0;
  [[nodiscard]] virtual int OpenForWriting(const std::string& path,
                                           WriteMode mode, File* out) = 0;
  [[nodiscard]] virtual int Status(File file, FileStatus* status) = 0;
  /// Reads up to `size` bytes; `*got` is 0 at the end of the file.
  [[nodiscard]] virtual int Read(File file, char* buffer, std::size_t size,
                                 std::size_t* got) = 0;
  /// Writes all of `data`.
  [[nodiscard]] virtual int Write(File file, std::string_view data) = 0;
  /// Returns once what was written to `file` is on the disk.
  [[nodiscard]] virtual int Sync(File file) = 0;
  /// Closes `file`, which is gone even when an error is returned: the
  /// error a delayed write reported.
  virtual int Close(File file) = 0;
  /// Takes an advisory lock on the open `file`, shared or exclusive, held
  /// until it is closed; a second call converts it. Without `wait` fails
  /// with EWOULDBLOCK while another open file (in this process or another)
  /// holds a lock that conflicts; another errno where the file system keeps
  /// no such locks.
  [[nodiscard]] virtual int LockFile(File file, bool exclusive, bool wait) = 0;
  /// Renames `from` to `to`, replacing a file named `to`.
  [[nodiscard]] virtual int Rename(const std::string& from,
                                   const std::string& to) = 0;
  /// Removes the file `path`.
  virtual int Remove(const std::string& path) = 0;
  /// Creates the folder `path` with the permission bits `mode` (less the
  /// umask).
  virtual int MakeFolder(const std::string& path, uint32_t mode) = 0;
};

/// The process-wide file system of the system the program runs on.
FileSystem& DefaultFileSystem();

/// Why a call on the program's own files failed, as a value.
struct FileError {
  bool ok() const { return error == 0; }
  /// "call path: reason", e.g. "rename /p/config.txt: Permission denied".
  std::string Text() const;

  std::string call;  ///< the call that failed: "open", "write", "fsync", ...
  std::string path;  ///< the path it was given
  int error = 0;     ///< its errno value; 0 when nothing failed
};

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_FILE_SYSTEM_H_
