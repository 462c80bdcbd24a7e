// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/file_copy.h"

#include <errno.h>

#include <algorithm>
#include <memory>

#include "engine/attributes.h"
#include "engine/keep_owner.h"
#include "engine/source_watch.h"
#include "platform/failure.h"
#include "platform/install_by_rename.h"
#include "platform/scoped_handle.h"

namespace ferrybox {
namespace {

constexpr size_t kBufferSize = 256 * 1024;
constexpr int64_t kWriteBackFrom = 4 << 20;

bool KernelCopyUnsupported(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS ||
         error == EOPNOTSUPP || error == ENOTSUP;
}

int CopyContent(Platform& platform, Handle in, Handle out, int64_t size,
                const CopyControl* control) {
  int64_t left = size;
  bool in_kernel = true;
  std::unique_ptr<char[]> buffer;
  while (left > 0) {
    // A copy in its last chunk ends: a stop then costs no more than the
    // chunk, and the copy shown is made.
    if (left > kCopyChunk && control != nullptr && control->keep_going &&
        !control->keep_going())
      return kErrorStopped;
    if (in_kernel) {
      int64_t copied = 0;
      int error =
          platform.CopyRange(in, out, std::min(left, kCopyChunk), &copied);
      if (KernelCopyUnsupported(error)) {
        // Both offsets moved with whatever was copied so far, so the
        // fallback carries on from there.
        in_kernel = false;
        continue;
      }
      if (error != 0) return error;
      if (copied == 0) return kErrorSourceChanged;  // cut short meanwhile
      left -= copied;
      // The disk starts on a big file while the rest of it is copied, so
      // that little is left for the flush at the end of the run.
      if (size >= kWriteBackFrom) platform.StartWriteBack(out);
      continue;
    }
    if (!buffer) buffer = std::make_unique<char[]>(kBufferSize);
    size_t got = 0;
    const size_t want =
        static_cast<size_t>(std::min<int64_t>(left, kBufferSize));
    int error = platform.Read(in, buffer.get(), want, &got);
    if (error != 0) return error;
    if (got == 0) return kErrorSourceChanged;  // cut short meanwhile
    error = platform.Write(out, buffer.get(), got);
    if (error != 0) return error;
    left -= static_cast<int64_t>(got);
  }
  return 0;
}

// Copies `size` bytes of `in` from `offset` to the same offset of `out`.
int CopyRangeAt(Platform& platform, Handle in, Handle out, int64_t offset,
                int64_t size, const CopyControl* control) {
  int64_t at = 0;
  int error = platform.Seek(in, offset, SeekTo::kOffset, &at);
  if (error == 0) error = platform.Seek(out, offset, SeekTo::kOffset, &at);
  if (error == 0) error = CopyContent(platform, in, out, size, control);
  return error;
}

// Copies only the ranges the file system holds data for, so that the holes
// of a sparse file (a disk image, a database) stay holes and take no room
// in the backup; the length set at the end makes a hole of the tail. Where
// the destination cannot make holes (FAT through FUSE refuses to write past
// the end), or the source cannot tell them, the whole file is copied.
int CopyData(Platform& platform, Handle in, Handle out, const FileInfo& source,
             const CopyControl* control) {
  // Allocated space that covers the length leaves no room for a hole:
  // the common case costs no search.
  if (source.allocated >= source.size)
    return CopyContent(platform, in, out, source.size, control);
  int error = 0;
  int64_t offset = 0;
  while (offset < source.size) {
    int64_t start = 0;
    int64_t end = 0;
    error = platform.Seek(in, offset, SeekTo::kData, &start);
    if (error == ENXIO) {
      error = 0;  // only a hole is left
      break;
    }
    if (error == 0) error = platform.Seek(in, start, SeekTo::kHole, &end);
    if (error != 0) break;
    end = std::min(end, source.size);
    if (start >= end) break;
    error = CopyRangeAt(platform, in, out, start, end - start, control);
    if (error != 0) break;
    offset = end;
  }
  if (error == 0) error = platform.SetLength(out, source.size);
  if (!AttributeRefused(error)) return error;
  // Written from the start again, the copy ends where the source does.
  return CopyRangeAt(platform, in, out, 0, source.size, control);
}

// The permission bits for the copy `name` in `dir` (empty: `dir` itself).
// The copy belongs to whoever makes the backup, so a set-user-id or
// set-group-id bit is kept only where the copy has the source's owner or
// group: on someone else's program it would hand them the rights of the one
// making the backup.
int CopyMode(Platform& platform, Handle dir, const std::string& name,
             const FileInfo& source, uint32_t* mode) {
  constexpr uint32_t kSetUserId = 04000;
  constexpr uint32_t kSetGroupId = 02000;
  *mode = source.mode;
  if ((source.mode & (kSetUserId | kSetGroupId)) == 0) return 0;
  FileInfo copy;
  const int error = platform.Stat(dir, name, false, &copy);
  if (error != 0) return error;
  if (copy.owner != source.owner) *mode &= ~kSetUserId;
  if (copy.group != source.group) *mode &= ~kSetGroupId;
  return 0;
}

// The bits a copy is made with, before any of its content is written. Until
// its owner and group are set it belongs to whoever makes the backup, in a
// group that may not be the source's, so its group and everyone else get
// only what the finished copy gives both its group and everyone else:
// nobody may read it who could not read the finished copy. Its maker may
// always read and write it. Where the folder hands on a default access
// control list, the list decides, so the copy starts private.
uint32_t MadeBits(const FileInfo& source, bool folder_hands_on) {
  if (folder_hands_on) return 0600;
  const uint32_t both = (source.mode >> 3) & source.mode & 07;
  return 0600 | (source.mode & 0700) | both << 3 | both;
}

// Gives the copy `out` the attributes of `in`. Content first: one the
// destination will not keep is told in `result`, and the copy stands.
int KeepAttributes(Platform& platform, Handle in, Handle out,
                   bool folder_hands_on, CopyResult* result) {
  std::string attribute;
  // A file made where no default access control list is handed on has no
  // attributes of its own to remove.
  const int error =
      CopyAttributes(platform, in, "", out, "",
                     /*destination_bare=*/!folder_hands_on, &attribute);
  if (error == 0 || result == nullptr) return error;
  result->attribute_error = error;
  result->attribute = std::move(attribute);
  return 0;
}

// Fills the new copy `out`, made under the name `temporary` in
// `destination_dir` with the status `made`, from the source `in` that
// `watch` keeps an eye on: data, owner, bits, times, attributes. Owner and
// bits the copy was made with already are not set again.
int FillCopy(Platform& platform, Handle in, const FileInfo& source,
             SourceWatch& watch, Handle destination_dir,
             const std::string& temporary, Handle out, const FileInfo& made,
             bool folder_hands_on, CopyResult* result,
             const CopyControl* control) {
  int error = CopyData(platform, in, out, source, control);
  if (error == 0 && watch.read_twice()) {
    // Whoever holds the file open for writing may write through a mapping
    // that moves none of its times: the copy stands only if a second read
    // of the source gives the very bytes it holds.
    ScopedHandle copy(platform);
    error = platform.Open(destination_dir, temporary, OpenMode::kReadFile,
                          copy.out());
    if (error == 0) error = watch.ReadAgain(copy.get());
  }
  // At once, also after a failure: a writer may be waiting for the lease.
  const int watch_error = watch.End();
  if (error == 0) error = watch_error;
  // Started now, the write to the disk of a big copy is mostly done when the
  // run flushes. Not for small ones: written one by one they cost far more
  // than the flush that writes them all together.
  if (error == 0 && source.size >= kWriteBackFrom) platform.StartWriteBack(out);
  const bool known = made.type == EntryType::kFile;
  if (error == 0 &&
      !(known && made.owner == source.owner && made.group == source.group))
    error = KeepOwner(platform, out, "", source);
  uint32_t mode = 0;
  if (error == 0) error = CopyMode(platform, out, "", source, &mode);
  // Made without a set-id bit, the copy keeps its bits through a change of
  // owner.
  if (error == 0)
    error = platform.Finish(
        out, known && made.mode == mode ? std::nullopt : std::optional(mode),
        source.atime, source.mtime,
        result && result->read_back ? &result->stored_mtime : nullptr);
  // After the bits: setting them would recompute an access control list's
  // mask.
  if (error == 0)
    error = KeepAttributes(platform, in, out, folder_hands_on, result);
  return error;
}

}  // namespace

int OpenSourceFile(Platform& platform, Handle dir, const std::string& name,
                   ScopedHandle* file, FileInfo* info) {
  int error = platform.Open(dir, name, OpenMode::kReadFile, file->out());
  if (error == ELOOP) return kErrorSourceChanged;
  if (error == 0) error = platform.Stat(file->get(), "", false, info);
  if (error == 0 && info->type != EntryType::kFile) error = kErrorSourceChanged;
  if (error != 0) file->reset();
  return error;
}

int CopyOpenFile(Platform& platform, Handle in, const FileInfo& source,
                 Handle destination_dir, const std::string& destination_name,
                 bool folder_hands_on, CopyResult* result,
                 const CopyControl* control, ReplacedEntry* replaced) {
  SourceWatch watch(platform, in, source);
  int error = watch.Begin();
  if (error != 0) return error;

  FileInfo made;
  const Failure failure = InstallByRename(
      platform, destination_dir, destination_name,
      [&](const std::string& temporary, Handle* out) {
        return platform.CreateFile(destination_dir, temporary,
                                   MadeBits(source, folder_hands_on), out,
                                   &made);
      },
      [&](Handle out, const std::string& temporary) {
        return Failure{.error = FillCopy(platform, in, source, watch,
                                         destination_dir, temporary, out, made,
                                         folder_hands_on, result, control)};
      },
      replaced);
  return failure.error;
}

int RefreshStatusAt(Platform& platform, Handle source_dir,
                    const std::string& source_name, const FileInfo& source,
                    Handle destination_dir, const std::string& destination_name,
                    const FileInfo& destination) {
  int error = 0;
  if (destination.owner != source.owner || destination.group != source.group)
    error = KeepOwner(platform, destination_dir, destination_name, source);
  // Then the bits, which a change of owner may have cleared set-id bits
  // from, then the attributes: a change of owner clears a file capability,
  // and the bits recompute an access control list's mask.
  uint32_t mode = 0;
  if (error == 0)
    error =
        CopyMode(platform, destination_dir, destination_name, source, &mode);
  if (error == 0) {
    error = platform.SetMode(destination_dir, destination_name, mode);
    if (AttributeRefused(error)) error = 0;
  }
  if (error == 0)
    error = CopyAttributes(platform, source_dir, source_name, destination_dir,
                           destination_name);
  return error;
}

}  // namespace ferrybox
