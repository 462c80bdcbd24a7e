// SPDX-License-Identifier: GPL-3.0-or-later
// What the run decided for one collected path, and what came of it.
#ifndef FERRYBOX_ENGINE_FILE_DECISION_H_
#define FERRYBOX_ENGINE_FILE_DECISION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/copy_job.h"
#include "platform/platform.h"

namespace ferrybox {

/// What the run decided for one collected path, in its turn.
enum class FileOutcome {
  /// The backup already holds the file: nothing is written.
  kUpToDate,
  /// Something must be written: `copy` holds the job.
  kCopy,
  /// The copy fails before it is begun (a case clash, a folder in the way,
  /// a source that cannot be opened): its line, then its failure.
  kFailed,
  /// The file's status could not be read, or it is gone: a failed copy
  /// without a line of its own, not counted as copied.
  kUnreadable,
  /// A folder that holds nothing to copy, brought over as itself.
  kFolder,
  /// A stop came before the file was begun: the run ends here.
  kLeftByStop,
  /// Another run took the destination root: the run ends here.
  kDestinationLost,
};

/// A line a decision shows once every earlier file's result is taken.
struct ShownLine {
  /// A List2 line, or (when `failed`) a failed copy of `text`, a
  /// destination path, from `source_path` for the reason `error`.
  std::string text;
  bool failed = false;
  std::string source_path;
  int error = 0;
};

/// A copy job on its way: the job, what it did, and whether it is done
/// (read and written under the lock of whoever runs it).
struct CopyTicket {
  CopyJob job;
  CopyOutcome outcome;
  bool done = false;
};

/// One collected path as the run decided it: a plain value, shown and
/// taken back in file order.
struct FileDecision {
  FileOutcome outcome = FileOutcome::kUpToDate;
  /// The path as collected.
  std::string source_path;
  /// Its status, as the decision read it.
  FileInfo source;
  /// Lines of the folders reached on the way (and their failures), shown
  /// before the file's own.
  std::vector<ShownLine> lines;
  /// kCopy, kFailed: the List2 line of the copy ("New File, Copying: " or
  /// "Different File, Updating="), and the destination path it names.
  const char* copy_line = nullptr;
  std::string destination_path;
  /// kFailed, kUnreadable: why.
  int error = 0;
  /// kCopy: the path below the source root, for the file's link group.
  std::string relative;
  /// kCopy: the name is a further name of a group copied earlier in the run
  /// (kHardLink), or a file of its own that may start a group.
  bool starts_group = false;
  /// kCopy: what the copy makes; a dry run makes no job, and takes the
  /// decision as this copy made.
  CopyKind kind = CopyKind::kFile;
  /// kCopy: the device of the destination folder, when known.
  std::optional<uint64_t> device;
  std::optional<CopyTicket> copy;
  /// kCopy: the destination held an entry of the name when the job was
  /// made, which the copy replaces.
  bool replaces = false;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_FILE_DECISION_H_
