// SPDX-License-Identifier: GPL-3.0-or-later
// Why a file could not be brought over, as a value that travels from the
// platform layer to whatever reports it.
#ifndef FERRYBOX_PLATFORM_FAILURE_H_
#define FERRYBOX_PLATFORM_FAILURE_H_

#include <string>

namespace ferrybox {

/// One failed copy: the file it came from, the path the lists and the copy
/// log name, and why (an errno value, or one of the engine's own reasons
/// below).
struct CopyFailure {
  std::string source_path;
  std::string destination_path;
  int error = 0;
  /// 0 when the failure's copy-log line was written, else the errno value
  /// that kept it out of the log.
  int log_error = 0;
};

/// Reasons the engine finds itself, beside the system's errno values (which
/// are all positive).
enum EngineError : int {
  /// The source changed while it was being copied.
  kErrorSourceChanged = -1,
  /// The source is no longer a regular file.
  kErrorNotAFile = -2,
  /// Another program opened the source for writing while it was copied.
  kErrorWrittenDuringCopy = -3,
  /// Another program has the source open for writing and changed it
  /// moments ago: it may be writing it still.
  kErrorOpenForWriting = -4,
  /// The source changed moments ago, and whether another program is still
  /// writing it cannot be told (not its owner, a file system without
  /// leases).
  kErrorRecentlyChanged = -5,
  /// The destination ignores letter case, and another source name that
  /// differs from this one only in case was copied there first.
  kErrorCaseClash = -6,
  /// The destination's file system cannot hold symbolic links.
  kErrorNoLinks = -7,
  /// The copy was broken off before it was complete (a "Stop" during it):
  /// no failure of the file's.
  kErrorStopped = -8,
};

/// Why a call on the program's own files failed, as a value.
struct FileError {
  bool ok() const { return error == 0; }
  /// "call path: reason", e.g. "rename /p/config.txt: Permission denied".
  std::string Text() const;

  std::string call;  ///< the call that failed: "open", "write", "fsync", ...
  std::string path;  ///< the path it was given
  int error = 0;     ///< its errno value; 0 when nothing failed
};

/// The words for an errno value or an EngineError, written in one place.
std::string ErrorText(int error);

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_FAILURE_H_
