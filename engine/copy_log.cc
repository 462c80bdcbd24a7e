#include "engine/copy_log.h"

#include <cerrno>
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

bool EmptyCopyLog(const std::string& log_path) {
  std::FILE* file = std::fopen(log_path.c_str(), "wb");
  if (file == nullptr) return false;
  return std::fclose(file) == 0;
}

int AppendCopyLog(const std::string& log_path,
                  const std::string& destination_path) {
  std::FILE* file = std::fopen(log_path.c_str(), "ab");
  if (file == nullptr) return errno;
  // One write, so a line never interleaves with another writer's.
  const std::string line =
      kCopyErrorPrefix + OneLine(destination_path) + "\r\n";
  int error = 0;
  if (std::fwrite(line.data(), 1, line.size(), file) != line.size())
    error = errno != 0 ? errno : EIO;
  // A full disk often shows only when the buffer is written out here.
  if (std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  return error;
}

}  // namespace ferrybox
