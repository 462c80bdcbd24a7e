// SPDX-License-Identifier: GPL-3.0-or-later
// Copying one file so that the earlier copy survives any failure.
#ifndef FERRYBOX_ENGINE_FILE_COPY_H_
#define FERRYBOX_ENGINE_FILE_COPY_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/install_by_rename.h"
#include "platform/platform.h"
#include "platform/scoped_handle.h"

namespace ferrybox {

/// What a successful copy wrote.
struct CopyResult {
  /// The last-modified time the destination's file system stored; it may be
  /// coarser than the source's. Read back from the copy only when
  /// `read_back` says so; else left as it was given.
  FileTime stored_mtime;
  bool read_back = true;
  /// Why an extended attribute, access control list or capability was not
  /// kept (no room for it on the destination, ...), 0 when all were: the
  /// copy is installed with its content, owner, bits and times all the
  /// same. `attribute` names it where it is known.
  int attribute_error = 0;
  std::string attribute;
};

/// The most one call moves while a file's content is copied, so that
/// CopyControl is asked at least this often.
inline constexpr int64_t kCopyChunk = 8 << 20;

/// Lets whoever asked for a copy break it off between its chunks: the run
/// when "Stop" is clicked during one big file.
struct CopyControl {
  /// Asked before each chunk of content (kCopyChunk bytes at most) but the
  /// last, so that a copy in its last chunk always ends; false ends the
  /// copy with kErrorStopped. Empty: the copy always goes on.
  std::function<bool()> keep_going;
};

/// Opens the regular file `name` in the folder `dir` for its copy, never
/// through a link, and reads its status as opened: the status its copy
/// takes its length, times, permissions and owner from. A link, or anything
/// else put in the file's place, fails with kErrorSourceChanged.
int OpenSourceFile(Platform& platform, Handle dir, const std::string& name,
                   ScopedHandle* file, FileInfo* info);

/// Copies the file open as `in`, whose status OpenSourceFile read as
/// `source`, to `destination_name` in the folder `destination_dir`, with its
/// content (its holes left as holes where the destination can make them),
/// permission bits and times, its extended attributes (access control lists
/// and file capabilities included, where the destination keeps them), and
/// its owner and group where the process may change owners; a set-user-id or
/// set-group-id bit is dropped where the copy's owner or group differs from the
/// source's. The copy is written under a new temporary name, created
/// exclusively and readable by nobody who could not read the finished copy,
/// and renamed over `destination_name` only when complete; on any failure the
/// temporary file is removed and whatever stood at `destination_name` is left
/// as it was. Owner and bits the copy was made with are not set again. A copy
/// that may mix two versions of the source fails, as SourceWatch tells. A copy
/// that `control` (when given) breaks off fails with kErrorStopped, cleaned up
/// like any other failure. `folder_hands_on` is HandsOnAttributes of
/// `destination_dir`, asked once for all the copies made in it. `result`, when
/// given, receives the time the file system stored (read back from the copy)
/// and an attribute the destination would not keep; without it, such an
/// attribute fails the copy. `replaced`, when given, keeps the entry the
/// copy replaces first. Returns 0, an errno value or an EngineError.
int CopyOpenFile(Platform& platform, Handle in, const FileInfo& source,
                 Handle destination_dir, const std::string& destination_name,
                 bool folder_hands_on, CopyResult* result,
                 const CopyControl* control = nullptr,
                 ReplacedEntry* replaced = nullptr);

/// Brings the owner and group (where the process may change owners), the
/// permission bits and the extended attributes of the copy
/// `destination_name` in `destination_dir` (whose status is `destination`)
/// to those of the file `source_name` in `source_dir` (whose status is
/// `source`), without copying its content; its times stay. Neither entry is
/// followed when it is a link. The bits are set even where they are the
/// same, so that the copy's status-change time is stamped. A file system
/// that refuses an attribute is no failure. Returns 0 or an errno value.
int RefreshStatusAt(Platform& platform, Handle source_dir,
                    const std::string& source_name, const FileInfo& source,
                    Handle destination_dir, const std::string& destination_name,
                    const FileInfo& destination);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_FILE_COPY_H_
