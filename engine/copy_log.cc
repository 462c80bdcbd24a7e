#include "engine/copy_log.h"

#include <cstdio>

namespace ferrybox {
namespace {

std::string OneLine(const std::string& path) {
  std::string text;
  text.reserve(path.size());
  for (const char c : path) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte >= 0x20 && byte != 0x7f) || c == '\t') {
      text += c;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    text += escaped;
  }
  return text;
}

}  // namespace

std::string CopyLogPath(const std::string& program_folder) {
  return program_folder + "/filelog.txt";
}

bool EmptyCopyLog(const std::string& log_path) {
  std::FILE* file = std::fopen(log_path.c_str(), "wb");
  if (file == nullptr) return false;
  return std::fclose(file) == 0;
}

void AppendCopyLog(const std::string& log_path,
                   const std::string& destination_path) {
  std::FILE* file = std::fopen(log_path.c_str(), "ab");
  if (file == nullptr) return;
  // One write, so a line never interleaves with another writer's.
  std::string line = kCopyErrorPrefix + OneLine(destination_path) + "\r\n";
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

}  // namespace ferrybox
