// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/text_file.h"

#include "platform/atomic_file.h"

namespace ferrybox {
namespace {

// Reads the lines of the open `file` into `lines`; see ReadLines.
bool ReadOpenFile(Platform& files, Handle file, const std::string& path,
                  std::size_t max_lines, std::vector<std::string>* lines,
                  std::string* err) {
  const std::string too_large = path + " is damaged: larger than " +
                                std::to_string(kMaxTextFileBytes / 1024) +
                                " KiB";
  FileStatus status;
  if (int error = files.Status(file, &status); error != 0) {
    *err = Failure{.call = "fstat", .path = path, .error = error}.Text();
    return false;
  }
  if (!status.regular) {
    *err = path + " is not a regular file";
    return false;
  }
  if (status.size > kMaxTextFileBytes) {
    *err = too_large;
    return false;
  }
  std::string line;
  bool in_line = false;
  std::size_t total = 0;
  char buffer[4096];
  while (lines->size() < max_lines) {
    std::size_t got = 0;
    if (int error = files.Read(file, buffer, sizeof buffer, &got); error != 0) {
      *err = Failure{.call = "read", .path = path, .error = error}.Text();
      return false;
    }
    if (got == 0) break;
    // The file may have grown since its size was read.
    total += got;
    if (total > kMaxTextFileBytes) {
      *err = too_large;
      return false;
    }
    for (std::size_t i = 0; i < got && lines->size() < max_lines; ++i) {
      if (buffer[i] == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines->push_back(std::move(line));
        line.clear();
        in_line = false;
      } else {
        line.push_back(buffer[i]);
        in_line = true;
      }
    }
  }
  // An unterminated last line: kept whole, a trailing CR included, since
  // no line end was written after it.
  if (in_line && lines->size() < max_lines) lines->push_back(std::move(line));
  return true;
}

}  // namespace

bool ReadLines(Platform& files, const std::string& path, std::size_t max_lines,
               std::vector<std::string>* lines, std::string* err) {
  lines->clear();
  Handle file = -1;
  if (int error = files.OpenForReading(path, &file); error != 0) {
    *err = Failure{.call = "open", .path = path, .error = error}.Text();
    return false;
  }
  const bool read = ReadOpenFile(files, file, path, max_lines, lines, err);
  files.Close(file);
  return read;
}

bool WriteLines(Platform& files, const std::string& path,
                const std::vector<std::string>& lines, std::string* err) {
  std::string text;
  for (const std::string& value : lines) {
    if (value.find('\n') != std::string::npos) {
      *err = "cannot write " + path + ": a value holds a line break";
      return false;
    }
    text += value;
    text += "\r\n";
  }
  const Failure failure = WriteFileAtomically(files, path, text);
  if (!failure.ok()) *err = failure.Text();
  return failure.ok();
}

}  // namespace ferrybox
