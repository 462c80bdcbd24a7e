// SPDX-License-Identifier: GPL-3.0-or-later
// The one door between the program and the operating system.
#ifndef FERRYBOX_PLATFORM_PLATFORM_H_
#define FERRYBOX_PLATFORM_PLATFORM_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_time.h"

namespace ferrybox {

/// An open file or folder, as the platform hands it out.
using Handle = int;
/// No handle.
inline constexpr Handle kNoHandle = -1;
/// Stands for the process's working folder where a folder handle is asked
/// for: names relative to it are resolved as plain relative paths.
inline constexpr Handle kWorkingFolder = -2;

/// What an entry is. Links are reported as links only where the caller
/// asked not to follow them.
enum class EntryType { kUnknown, kFile, kFolder, kLink, kOther };

/// Identifies a file or folder on its device.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};

/// What a status lookup tells about an entry.
struct FileInfo {
  EntryType type = EntryType::kUnknown;
  int64_t size = 0;
  /// Last-modified and last-accessed times.
  FileTime mtime;
  FileTime atime;
  /// The last change of content or status (permissions, owner, links),
  /// stamped by the system's clock; no call can set it to another time.
  FileTime ctime;
  /// Permission bits, including set-id and sticky bits.
  uint32_t mode = 0;
  /// The numeric ids of the user and the group that own the entry.
  uint32_t owner = 0;
  uint32_t group = 0;
  FileId id;
  /// Names the entry has (hard links to it).
  uint32_t links = 0;
  /// Bytes the file system set aside for the entry's data; less than `size`
  /// when the file has holes.
  int64_t allocated = 0;
};

/// One entry of a folder listing. `type` comes from the listing itself and
/// is kUnknown where the file system does not say; a link stays kLink.
struct DirEntry {
  std::string name;
  EntryType type = EntryType::kUnknown;
};

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

/// How Open opens an entry.
enum class OpenMode {
  /// A folder, following a link in the last component.
  kFolder,
  /// A folder; a link in the last component fails with ELOOP or ENOTDIR.
  kFolderNoFollow,
  /// A file for reading; a link in the last component fails with ELOOP.
  /// Never blocks, even on a FIFO.
  kReadFile,
  /// A new file for writing, created exclusively (EEXIST when the name is
  /// taken, whatever the entry is), readable and writable by the owner only.
  kCreateExclusive,
};

/// Where Seek moves a file's position.
enum class SeekTo {
  /// To the offset given.
  kOffset,
  /// To the first byte of data at or after the offset given.
  kData,
  /// To the first byte of a hole (or the end) at or after the offset given.
  kHole,
};

/// Every operating-system call the program makes on files goes through
/// here, so that a test can wrap it and fail chosen calls. Each
/// method reports failure as an errno value (0 for success) and never throws.
/// Names are resolved relative to the folder handle `dir` (kWorkingFolder for
/// the process's working folder; an absolute name ignores `dir`), so paths
/// deeper than the system's path limit stay reachable level by level.
///
/// The program's own files (the settings file, the profiles, the copy log)
/// are reached by path: a path given with kWorkingFolder, or the calls
/// OpenForReading, OpenForWriting, Status, Sync and LockFile below.
class Platform {
 public:
  virtual ~Platform() = default;

  /// Opens `name` in `dir`. On success `*out` holds a handle for Close.
  [[nodiscard]] virtual int Open(Handle dir, const std::string& name,
                                 OpenMode mode, Handle* out) = 0;

  /// Makes the new file `name` in `dir` for writing, exclusively (EEXIST
  /// when the name is taken, whatever the entry is), with the permission
  /// bits `bits` less the umask (or as the folder's default access list
  /// says). `*made` then tells the type, owner, group and bits the file
  /// system gave it, as the system knows them already: a share is not asked
  /// again; its type is kUnknown where they cannot be told. On success
  /// `*out` holds a handle for Close.
  [[nodiscard]] virtual int CreateFile(Handle dir, const std::string& name,
                                       uint32_t bits, Handle* out,
                                       FileInfo* made) = 0;

  /// Lists the folder open as `dir` in one pass, without "." and "..", in
  /// the order the file system gives. `*self` receives the folder's own
  /// identity.
  [[nodiscard]] virtual int ListFolder(Handle dir,
                                       std::vector<DirEntry>* entries,
                                       FileId* self) = 0;

  /// Status of `name` in `dir`; an empty `name` means `dir` itself. With
  /// `follow_link` false a link is reported as kLink.
  [[nodiscard]] virtual int Stat(Handle dir, const std::string& name,
                                 bool follow_link, FileInfo* info) = 0;

  /// Reads up to `size` bytes; `*got` is 0 at the end of the file.
  [[nodiscard]] virtual int Read(Handle file, char* buffer, size_t size,
                                 size_t* got) = 0;

  /// Writes all `size` bytes.
  [[nodiscard]] virtual int Write(Handle file, const char* buffer,
                                  size_t size) = 0;
  /// Writes all of `data`.
  [[nodiscard]] int Write(Handle file, std::string_view data) {
    return Write(file, data.data(), data.size());
  }

  /// Copies up to `size` bytes from the current position of `from` to that
  /// of `to` inside the kernel; `*copied` is 0 at the end of `from`. Fails
  /// with EXDEV, EINVAL, ENOSYS or EOPNOTSUPP when the two files cannot be
  /// copied this way: the caller then falls back to Read and Write.
  [[nodiscard]] virtual int CopyRange(Handle from, Handle to, int64_t size,
                                      int64_t* copied) = 0;

  /// Completes a written file or a finished folder: sets its permission bits
  /// when `mode` is given (where the file system keeps any: FAT keeps none)
  /// and its times, then, when `stored_mtime` is given, reports the
  /// last-modified time the file system actually stored, which may be
  /// coarser.
  [[nodiscard]] virtual int Finish(Handle file, std::optional<uint32_t> mode,
                                   FileTime atime, FileTime mtime,
                                   FileTime* stored_mtime) = 0;

  /// Sets the times of `name` in `dir` (a link itself, never its target; an
  /// empty `name`: `dir` itself), then, when `stored_mtime` is given, reports
  /// the last-modified time the file system stored.
  [[nodiscard]] virtual int SetTimes(Handle dir, const std::string& name,
                                     FileTime atime, FileTime mtime,
                                     FileTime* stored_mtime) = 0;

  /// Asks for a read lease on `file`, open for reading. While the lease is
  /// held no one else has the file open for writing; anyone who opens it
  /// for writing (or truncates it) breaks the lease, which is then let go
  /// of at once so that the writer is not held up. Returns 0 when granted;
  /// EAGAIN while someone has the file open for writing; another errno when
  /// the file cannot be leased (neither its owner nor root, a file system
  /// without leases).
  [[nodiscard]] virtual int TakeReadLease(Handle file) = 0;

  /// Lets go of the lease on `file`. Returns 0 when it was held, unbroken,
  /// from TakeReadLease until now, so that no one can have written to the
  /// file meanwhile; EAGAIN when it was broken.
  virtual int EndReadLease(Handle file) = 0;

  /// Takes an exclusive lock on the folder open as `dir`, without waiting;
  /// it is held until that handle is closed. Returns 0; EWOULDBLOCK while
  /// another handle holds it; another errno where the file system keeps no
  /// such locks.
  [[nodiscard]] virtual int LockFolder(Handle dir) = 0;

  /// Renames `from` to `to`, both in `dir`, replacing a file named `to`.
  [[nodiscard]] virtual int Rename(Handle dir, const std::string& from,
                                   const std::string& to) = 0;

  /// Creates the folder `name` in `dir`.
  [[nodiscard]] virtual int MakeFolder(Handle dir, const std::string& name) = 0;

  /// Removes the file `name` from `dir`.
  virtual int Remove(Handle dir, const std::string& name) = 0;

  /// Moves the entry `from` in `from_dir` (a link as itself) to `to` in
  /// `to_dir` on the same file system, never replacing anything: EEXIST
  /// when `to` is taken.
  [[nodiscard]] virtual int MoveEntry(Handle from_dir, const std::string& from,
                                      Handle to_dir, const std::string& to) = 0;

  /// Removes the empty folder `name` from `dir`; ENOTEMPTY when it holds
  /// anything, ENOTDIR when it is no folder (a link to one included).
  virtual int RemoveFolder(Handle dir, const std::string& name) = 0;

  /// Closes a handle from Open, OpenForReading or OpenForWriting, which is
  /// gone even when an error is returned: the error a delayed write
  /// reported.
  virtual int Close(Handle handle) = 0;

  /// A second handle on what `handle` holds open, closed on its own: a
  /// folder handed to a copy that outlives the cursor it came from.
  [[nodiscard]] virtual int Duplicate(Handle handle, Handle* out) = 0;

  /// Opens the file `path` for reading, following links. Never blocks, even
  /// on a FIFO.
  [[nodiscard]] virtual int OpenForReading(const std::string& path,
                                           Handle* out) = 0;

  /// Opens the file `path` for writing, as `mode` says. A link in the last
  /// component is never followed: ELOOP, so that a link planted in the
  /// program folder cannot turn a write onto another file.
  [[nodiscard]] virtual int OpenForWriting(const std::string& path,
                                           WriteMode mode, Handle* out) = 0;

  /// What the open `file` is and how long.
  [[nodiscard]] virtual int Status(Handle file, FileStatus* status) = 0;

  /// Returns once what was written to `file` is on the disk.
  [[nodiscard]] virtual int Sync(Handle file) = 0;

  /// Takes an advisory lock on the open `file`, shared or exclusive, held
  /// until it is closed; a second call converts it. Without `wait` fails
  /// with EWOULDBLOCK while another open file (in this process or another)
  /// holds a lock that conflicts; another errno where the file system keeps
  /// no such locks.
  [[nodiscard]] virtual int LockFile(Handle file, bool exclusive,
                                     bool wait) = 0;

  /// The target text of the link `name` in `dir`. EINVAL when `name` is not
  /// a link.
  [[nodiscard]] virtual int ReadLink(Handle dir, const std::string& name,
                                     std::string* target) = 0;

  /// Creates the link `name` in `dir` with the target text `target` (EEXIST
  /// when the name is taken, whatever the entry is) and opens the link
  /// itself, never its target, so that Stat, SetOwner and SetTimes with an
  /// empty name act on that very link. EEXIST too when what the name holds
  /// once opened is not the link just made.
  [[nodiscard]] virtual int MakeLink(Handle dir, const std::string& name,
                                     const std::string& target,
                                     Handle* out) = 0;

  /// True when this process may give what it creates to any owner and group
  /// (it runs as root): copies then keep their source's.
  virtual bool MayChangeOwners() = 0;

  /// Gives `name` in `dir` (an empty `name`: `dir` itself) the owner and
  /// group given, never following a link.
  [[nodiscard]] virtual int SetOwner(Handle dir, const std::string& name,
                                     uint32_t owner, uint32_t group) = 0;

  /// Creates the folder `name` in `dir`, open to its owner only.
  [[nodiscard]] virtual int MakePrivateFolder(Handle dir,
                                              const std::string& name) = 0;

  /// Moves the position of `file` as `to` says and reports it. kData fails
  /// with ENXIO when no data lies at or after `offset`; a file system that
  /// does not tell holes from data reports the whole file as data, and one
  /// that cannot seek by them fails with EINVAL.
  [[nodiscard]] virtual int Seek(Handle file, int64_t offset, SeekTo to,
                                 int64_t* position) = 0;

  /// Makes the open file `length` bytes long; what it grows by is a hole.
  [[nodiscard]] virtual int SetLength(Handle file, int64_t length) = 0;

  /// Starts writing what the open file holds in memory to its disk, without
  /// waiting, so that a later SyncFileSystem has less to do. Only a hint:
  /// nothing fails when it does not happen.
  virtual void StartWriteBack(Handle file) = 0;

  /// The names of the extended attributes of `name` in `dir` (an empty
  /// `name`: `dir` itself), never following a link, in `*names`. Access
  /// control lists and file capabilities are attributes too. ENOTSUP where
  /// the file system keeps none.
  [[nodiscard]] virtual int ListAttributes(Handle dir, const std::string& name,
                                           std::vector<std::string>* names) = 0;

  /// The value of the extended attribute `attribute` of `name` in `dir`.
  /// ENODATA when it has none of that name.
  [[nodiscard]] virtual int GetAttribute(Handle dir, const std::string& name,
                                         const std::string& attribute,
                                         std::string* value) = 0;

  /// Gives `name` in `dir` the extended attribute `attribute` with `value`,
  /// replacing one of that name. ENOTSUP or EPERM where the file system
  /// cannot keep it or the process may not set it.
  [[nodiscard]] virtual int SetAttribute(Handle dir, const std::string& name,
                                         const std::string& attribute,
                                         const std::string& value) = 0;

  /// Removes the extended attribute `attribute` from `name` in `dir`.
  [[nodiscard]] virtual int RemoveAttribute(Handle dir, const std::string& name,
                                            const std::string& attribute) = 0;

  /// Gives `name` in `dir` the permission bits `mode`, never following a
  /// link (EOPNOTSUPP for a link). EPERM, ENOSYS or ENOTSUP where the file
  /// system keeps no permission bits.
  [[nodiscard]] virtual int SetMode(Handle dir, const std::string& name,
                                    uint32_t mode) = 0;

  /// Makes `to_name` in `to_dir` a further name of the file `from_name` in
  /// `from_dir` (a hard link; a link in `from_name` is not followed). EEXIST
  /// when `to_name` is taken; EPERM, ENOTSUP or ENOSYS where the file system
  /// has no hard links; EMLINK when the file has as many names as it may;
  /// EXDEV across file systems.
  [[nodiscard]] virtual int MakeHardLink(Handle from_dir,
                                         const std::string& from_name,
                                         Handle to_dir,
                                         const std::string& to_name) = 0;

  /// Whether names in the folder open as `dir` are looked up without regard
  /// to letter case by a flag of the folder's own (the casefold attribute
  /// of ext4 and f2fs). Returns 0; another errno (ENOTTY, EOPNOTSUPP) where
  /// the file system keeps no flags per folder, and only a probe can tell.
  [[nodiscard]] virtual int FolderFoldsCase(Handle dir, bool* folds) = 0;

  /// The name under which the folder open as `dir` stores the entry that
  /// `name` leads to there, never following a link: `name` itself, or the
  /// spelling stored where the file system takes several as one (letter
  /// case, the forms of Unicode); empty when the entry is found but its
  /// stored name cannot be told. ENOENT when `name` leads to nothing.
  [[nodiscard]] virtual int StoredName(Handle dir, const std::string& name,
                                       std::string* stored) = 0;

  /// Writes everything the file system that holds `dir` keeps in memory to
  /// its disk, and waits until it is there.
  [[nodiscard]] virtual int SyncFileSystem(Handle dir) = 0;
};

/// The process-wide platform of the system the program runs on.
Platform& DefaultPlatform();

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_PLATFORM_H_
