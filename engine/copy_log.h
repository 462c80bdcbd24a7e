// SPDX-License-Identifier: GPL-3.0-or-later
// The copy log: one line per failed copy, beside the program.
#ifndef FERRYBOX_ENGINE_COPY_LOG_H_
#define FERRYBOX_ENGINE_COPY_LOG_H_

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace ferrybox {

/// The text of a copy-failure line, in List3 and in the copy log alike.
inline constexpr char kCopyErrorPrefix[] = "Error copying file: ";

/// Where the copy log lives: the program folder + "/filelog.txt".
std::string CopyLogPath(const std::string& program_folder);

/// `text` with every control character (a tab or a line break in a file
/// name, a terminal escape, DEL, and the C1 controls: U+0080 to U+009F as
/// UTF-8, and the bytes 0x80 to 0x9F outside a valid UTF-8 sequence) and
/// every bidirectional control that could reorder what a terminal shows
/// (U+202A to U+202E, U+2066 to U+2069) written as "\xHH" per byte, so that
/// a message that carries it stays one plain line, shown as it is. Every
/// other byte is kept as it is.
std::string OneLine(std::string_view text);

/// Creates the log anew with length 0, through `files`. Returns false when
/// it could not be created; callers go on without a log.
bool EmptyCopyLog(Platform& files, const std::string& log_path);

/// The copy log as one run holds it. Runs that share a program folder share
/// the log: a run empties it when it starts only when no other run is
/// writing it, and otherwise adds its lines after theirs. Each run holds a
/// shared lock on the log for as long as this lives; the one that finds no
/// other holder takes it exclusively for the moment of emptying it. Where
/// the file system keeps no locks, every run empties it, as before locks.
class CopyLogClaim {
 public:
  CopyLogClaim(Platform& files, const std::string& log_path);
  ~CopyLogClaim();
  CopyLogClaim(const CopyLogClaim&) = delete;
  CopyLogClaim& operator=(const CopyLogClaim&) = delete;

  /// False when another run was writing the log: its lines were kept.
  bool emptied() const { return emptied_; }

 private:
  Platform& files_;
  Handle file_ = -1;
  bool emptied_ = false;
};

/// Appends "Error copying file: " + OneLine(destination path) + CR LF,
/// through `files`. Opens, writes and closes the file each time. Returns 0
/// when the line was written, else the errno value that stopped it; the run
/// goes on either way (the same line has already reached List3).
int AppendCopyLog(Platform& files, const std::string& log_path,
                  const std::string& destination_path);
/// AppendCopyLog on the system's own file system.
int AppendCopyLog(const std::string& log_path,
                  const std::string& destination_path);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_COPY_LOG_H_
