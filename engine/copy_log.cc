#include "engine/copy_log.h"

#include <cstdio>

namespace ferrybox {

std::string CopyLogPath(const std::string& program_folder) {
  return program_folder + "/filelog.txt";
}

std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte >= 0x20 && byte != 0x7f) || c == '\t') {
      line += c;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    line += escaped;
  }
  return line;
}

bool EmptyCopyLog(FileSystem& files, const std::string& log_path) {
  FileSystem::File file = -1;
  if (files.OpenForWriting(log_path, WriteMode::kTruncate, &file) != 0)
    return false;
  return files.Close(file) == 0;
}

bool EmptyCopyLog(const std::string& log_path) {
  return EmptyCopyLog(DefaultFileSystem(), log_path);
}

int AppendCopyLog(FileSystem& files, const std::string& log_path,
                  const std::string& destination_path) {
  FileSystem::File file = -1;
  if (int error = files.OpenForWriting(log_path, WriteMode::kAppend, &file))
    return error;
  // One write, so a line never interleaves with another writer's.
  const std::string line =
      kCopyErrorPrefix + OneLine(destination_path) + "\r\n";
  const int error = files.Write(file, line);
  // A full disk may show only when the file is closed (on a network file
  // system above all).
  const int close_error = files.Close(file);
  return error != 0 ? error : close_error;
}

int AppendCopyLog(const std::string& log_path,
                  const std::string& destination_path) {
  return AppendCopyLog(DefaultFileSystem(), log_path, destination_path);
}

}  // namespace ferrybox
