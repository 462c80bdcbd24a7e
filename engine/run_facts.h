// SPDX-License-Identifier: GPL-3.0-or-later
// What a backup run tells its front ends, as facts each front end words in
// its own way (the window in its lists and figure boxes, the command-line
// program in its progress line, messages and exit status).
#ifndef FERRYBOX_ENGINE_RUN_FACTS_H_
#define FERRYBOX_ENGINE_RUN_FACTS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace ferrybox {

/// Why a run copied nothing; kNone when it went ahead.
enum class RunRefusal {
  kNone,
  kSourceNotFullPath,
  kDestinationNotFullPath,
  kNoSourceFolder,
  kSourceFolderNotFound,
  kNoDestinationFolder,
  kSameFolder,
  /// The source lies inside the destination, where the copies would land
  /// on the source's own files.
  kSourceInsideDestination,
  /// Another run holds the destination: found when the run starts, or when
  /// it makes a destination root that did not exist yet.
  kDestinationInUse,
};

/// Where a run stands as it takes its next file.
struct RunProgress {
  /// Files the scan collected.
  int64_t files_collected = 0;
  /// Files taken so far, the one in hand included.
  int64_t files_handled = 0;
  /// Files handed to the copy before the one in hand.
  int64_t files_copied = 0;
  /// Size of the files handled before the one in hand, in bytes.
  int64_t bytes_total = 0;

  bool operator==(const RunProgress&) const = default;
};

/// How a run ended.
struct RunOutcome {
  RunRefusal refusal = RunRefusal::kNone;
  /// Ended by "Stop" or by the program ending, before its last file.
  bool stopped = false;
  int64_t files_collected = 0;
  int64_t files_handled = 0;
  int64_t files_copied = 0;
  int64_t failed_copies = 0;
  /// The source files whose copies a stop broke off, in file order, their
  /// earlier copies kept; empty when none was.
  std::vector<std::string> abandoned_files;
  /// Entries the scan left out as the user asked, a folder as one.
  int64_t left_out = 0;
  /// Those of `abandoned_files` that had no earlier copy to keep.
  std::vector<std::string> abandoned_without_copy;

  bool refused() const { return refusal != RunRefusal::kNone; }
  bool operator==(const RunOutcome&) const = default;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_RUN_FACTS_H_
