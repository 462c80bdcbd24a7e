// The copy log: one line per failed copy, beside the program.
#ifndef FERRYBOX_ENGINE_COPY_LOG_H_
#define FERRYBOX_ENGINE_COPY_LOG_H_

#include <string>

namespace ferrybox {

/// The text of a copy-failure line, in List3 and in the copy log alike.
inline constexpr char kCopyErrorPrefix[] = "Error copying file: ";

/// Where the copy log lives: the program folder + "/filelog.txt".
std::string CopyLogPath(const std::string& program_folder);

/// Creates the log anew with length 0. Returns false when it could not be
/// created; callers go on without a log.
bool EmptyCopyLog(const std::string& log_path);

/// Appends "Error copying file: " + destination path + CR LF. Control
/// characters in the path other than tab (a line break in a file name, a
/// terminal escape) are written as "\xHH", so that every failure stays one
/// plain line. Opens, writes and closes the file each time; a failure is
/// ignored (the same line has already reached List3).
void AppendCopyLog(const std::string& log_path,
                   const std::string& destination_path);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_COPY_LOG_H_
