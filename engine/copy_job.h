// SPDX-License-Identifier: GPL-3.0-or-later
// One file's copy, as the run decided it: everything it needs, on its own.
#ifndef FERRYBOX_ENGINE_COPY_JOB_H_
#define FERRYBOX_ENGINE_COPY_JOB_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "engine/file_copy.h"
#include "engine/version_keeper.h"
#include "platform/platform.h"
#include "platform/scoped_handle.h"

namespace ferrybox {

/// A folder held open for the copies made in it. Jobs share it with the run,
/// so that it stays open while a copy made in it is in flight, whatever
/// folder the run has moved on to.
using SharedFolder = std::shared_ptr<const ScopedHandle>;

/// What a copy job writes.
enum class CopyKind {
  /// The content of a regular file, open as `in`.
  kFile,
  /// A symbolic link, as itself.
  kLink,
  /// A further name of a file whose copy the run made earlier; where the
  /// destination cannot give it one, the file is copied as kFile.
  kHardLink,
};

/// Everything one copy needs, decided by the run in its file's turn, and
/// nothing it shares with the run but the folders it is made in.
struct CopyJob {
  explicit CopyJob(ScopedHandle source) : in(std::move(source)) {}

  CopyKind kind = CopyKind::kFile;
  /// The entry's name, in `source_folder` and in `destination_folder` alike.
  std::string name;
  SharedFolder source_folder;
  SharedFolder destination_folder;
  /// The source file, opened by the run for the copy (kFile, kHardLink).
  ScopedHandle in;
  /// Why the run could not open the source (kHardLink: the copy made where
  /// no further name can be, fails for it).
  int open_error = 0;
  /// The status the run decided on. A file's copy takes its length, times
  /// and bits from `in` as it is when the copy begins; this only tells
  /// whether the file changed since (for a link, its status as read).
  FileInfo decided;
  /// kHardLink: the folder and name of the group's copy, and the file it
  /// was found to be when the run found it rather than made it.
  SharedFolder group_folder;
  std::string group_name;
  std::optional<FileId> group_copy;
  /// Whether a file made in the destination folder starts with attributes
  /// (HandsOnAttributes).
  bool folder_hands_on = false;
  /// Whether the time the file system stored must be read back: false where
  /// earlier copies showed the device keeps times as asked.
  bool read_back = true;
  /// Where the entry the job replaces is kept first, when the run keeps
  /// earlier versions: the run's keeper, and the destination folder below
  /// the root.
  VersionKeeper* versions = nullptr;
  std::string version_folder;
};

/// What a copy job did, for the run to take back in its file's turn.
struct CopyOutcome {
  /// 0, an errno value or an EngineError; kErrorStopped when a stop broke
  /// the copy off (the earlier copy stays).
  int error = 0;
  /// The status of the source the copy was made from.
  FileInfo source;
  /// kFile: the last-modified time the destination's file system stored.
  CopyResult stored;
  /// kFile: when the copy was made, by the clock the source's times come
  /// from.
  FileTime copied_at;
  /// kHardLink: the name was linked to the group's copy.
  bool linked = false;
  /// The source is still the file the run decided on (the same file, not
  /// one put in its place since).
  bool same_file = true;
  /// False when a stop came before the job was begun: nothing was done.
  bool begun = true;
};

/// Makes the copy `job` describes: a file's content, owner, bits,
/// attributes and times under a temporary name renamed into place, a link
/// as a link, a further name as a hard link. `control` is asked between the
/// chunks of a large file. Touches nothing of the run's: safe on any thread.
CopyOutcome RunCopyJob(Platform& platform, CopyJob& job,
                       const CopyControl* control);

/// A further name for the entry `first` in `first_folder`, put at `name` in
/// `folder` under a temporary name and renamed into place, so that the
/// earlier entry stays should anything fail; `replaced`, when given, keeps
/// that entry first. With `expected`, the entry must still be that file
/// (kErrorSourceChanged otherwise, and nothing is put in place). Returns 0
/// or why not.
int InstallHardLink(Platform& platform, Handle first_folder,
                    const std::string& first, Handle folder,
                    const std::string& name, ReplacedEntry* replaced = nullptr,
                    const std::optional<FileId>& expected = std::nullopt);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_COPY_JOB_H_
