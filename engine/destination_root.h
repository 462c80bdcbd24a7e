// SPDX-License-Identifier: GPL-3.0-or-later
// The destination root of a run, as the run opens it.
#ifndef FERRYBOX_ENGINE_DESTINATION_ROOT_H_
#define FERRYBOX_ENGINE_DESTINATION_ROOT_H_

#include <errno.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/folder_scan.h"
#include "platform/platform.h"
#include "platform/scoped_handle.h"

namespace ferrybox {

/// The destination roots locked by the runs of one window that are under
/// way. A run nested inside another one shares its lock.
using HeldRoots = std::vector<FileId>;

/// The destination root of one run. The path the user gave is resolved once,
/// level by level as the system resolves a path (links followed, ".." the
/// parent of the folder actually reached), but without creating anything:
/// the deepest folder that exists is held open, and the levels still missing
/// below it are kept to be made when the first file needs them ("SRC/new/.."
/// is SRC itself, with nothing to make). Every destination folder of the run
/// is reached through this one root, so what was checked on it holds for
/// every write.
class DestinationRoot {
 public:
  /// `held` lists the roots locked by enclosing runs; it outlives this.
  DestinationRoot(Platform& platform, HeldRoots& held);
  ~DestinationRoot();
  DestinationRoot(const DestinationRoot&) = delete;
  DestinationRoot& operator=(const DestinationRoot&) = delete;

  /// Resolves `path`, absolute or relative to the working folder. Returns
  /// 0, or the error that keeps the path from being reached (a level that is
  /// a file, a folder that cannot be passed through; kErrorStopped when
  /// `keep_going`, asked before each level, said no); missing levels are no
  /// error.
  int Resolve(const std::string& path,
              const std::function<bool()>* keep_going = nullptr);
  /// 0 when the whole path exists; ENOENT when levels are missing; else the
  /// error of Resolve.
  int state() const {
    if (error_ != 0) return error_;
    return missing_.empty() ? 0 : ENOENT;
  }
  /// The identity of the root; valid when it exists.
  const FileId& id() const { return id_; }

  /// The folders of the source, as the scan found them.
  void SetSourceFolders(std::vector<SourceFolder> folders);
  /// kErrorDestinationIsSource when the folder open as `folder` is one of
  /// the source's (reached through a bind mount, a link or ".."), else 0.
  int CheckNotSource(Handle folder) const;
  /// The root, open; valid when it exists.
  Handle handle() const { return folder_.get(); }

  /// Makes the missing levels below the deepest existing folder, without
  /// following links, and locks the new root. Returns 0, the error of
  /// Resolve, an errno value, EWOULDBLOCK when another run holds the lock
  /// on it, or kErrorStopped when `keep_going` (asked before and after
  /// each level is made) said no; the root then stays missing to the run.
  int Create(const std::function<bool()>* keep_going = nullptr);

  /// Takes the exclusive lock on the existing root, held until the run
  /// ends, so that no other run writes into it meanwhile. Returns 0 (also
  /// where the file system keeps no locks, and where an enclosing run holds
  /// it) or EWOULDBLOCK when another run holds it.
  int Lock();

 private:
  Platform& platform_;
  HeldRoots& held_;
  // Nothing is reachable before Resolve.
  int error_ = ENOENT;
  ScopedHandle folder_;
  std::vector<std::string> missing_;
  FileId id_;
  // Sorted by device, then inode.
  std::vector<SourceFolder> source_folders_;
  bool locked_ = false;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_DESTINATION_ROOT_H_
