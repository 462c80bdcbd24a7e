// SPDX-License-Identifier: GPL-3.0-or-later
// Why a file could not be brought over, as a value that travels from the
// platform layer to whatever reports it.
#ifndef FERRYBOX_PLATFORM_FAILURE_H_
#define FERRYBOX_PLATFORM_FAILURE_H_

#include <string>
#include <string_view>

namespace ferrybox {

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
  /// The destination takes this name as one with another name it keeps
  /// (differing in letter case or Unicode form).
  kErrorCaseClash = -6,
  /// The destination's file system cannot hold symbolic links.
  kErrorNoLinks = -7,
  /// The copy was broken off before it was complete (a "Stop" during it):
  /// no failure of the file's.
  kErrorStopped = -8,
  /// The destination folder is a folder of the source itself (reached
  /// through a bind mount, a link or ".."): writing there would write over
  /// the source.
  kErrorDestinationIsSource = -9,
  /// The destination's file system cannot hold a character of the name
  /// (FAT and exFAT keep no control characters and none of " * / : < > ? \ |).
  kErrorNameNotStored = -10,
};

/// Why something failed, as a value: the call, the path or paths it was
/// given, and the reason (an errno value, or one of the engine's own reasons
/// above). A file that could not be brought over is the call "copy", with
/// the path the lists and the copy log name and the file it came from.
struct Failure {
  bool ok() const { return error == 0; }
  /// "call path: reason", e.g. "rename /p/config.txt: Permission denied".
  std::string Text() const;
  /// The reason in words, with what only this failure can tell: for a name
  /// the destination cannot hold, the characters of it at fault.
  std::string Reason() const;

  std::string call = "";         ///< "open", "write", "fsync", "copy", ...
  std::string path = "";         ///< the path it was given
  std::string source_path = "";  ///< for a copy, the file it came from
  int error = 0;  ///< errno or an EngineError; 0 when nothing failed
  /// For a copy: 0 when its copy-log line was written, else the errno value
  /// that kept it out of the log.
  int log_error = 0;
  /// For a copy installed with its content, owner, bits and times whose
  /// extended attribute (access control list, capability) the destination
  /// would not keep: true, and the attribute's name where it is known.
  std::string attribute = "";
  bool content_kept = false;
};

/// The words for an errno value or an EngineError, written in one place.
std::string ErrorText(int error);

/// The characters of `name` that FAT and exFAT cannot hold in a name, each
/// once, in the order they come: control characters and " * / : < > ? \ |.
/// Empty when there are none.
std::string CharactersNotStoredOnFat(std::string_view name);

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_FAILURE_H_
