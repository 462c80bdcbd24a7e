// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/copy_log.h"

#include <errno.h>

#include <cstdio>

#include "platform/utf8.h"

namespace ferrybox {

std::string CopyLogPath(const std::string& program_folder) {
  return program_folder + "/filelog.txt";
}

namespace {

// The C1 controls (U+0080 to U+009F, among them CSI and OSC), which act on
// a terminal, and the bidirectional embeddings, overrides and isolates
// (U+202A to U+202E, U+2066 to U+2069), which reorder what it shows.
bool Disguises(char32_t code) {
  return code <= 0x9f || (code >= 0x202a && code <= 0x202e) ||
         (code >= 0x2066 && code <= 0x2069);
}

void AppendEscaped(std::string_view bytes, std::string* line) {
  for (const char c : bytes) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x",
                  static_cast<unsigned char>(c));
    *line += escaped;
  }
}

}  // namespace

std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte >= 0x20 && byte != 0x7f) {
        line += text[i];
      } else {
        AppendEscaped(text.substr(i, 1), &line);
      }
      ++i;
      continue;
    }
    // The C1 controls act on a terminal both as UTF-8 and as single bytes;
    // bytes that belong to any other character, or to no valid sequence,
    // are kept.
    char32_t code = 0;
    const size_t length = Utf8Length(text.substr(i), &code);
    if (length == 0) {
      if (byte <= 0x9f) {
        AppendEscaped(text.substr(i, 1), &line);
      } else {
        line += text[i];
      }
      ++i;
      continue;
    }
    if (Disguises(code)) {
      AppendEscaped(text.substr(i, length), &line);
    } else {
      line.append(text.substr(i, length));
    }
    i += length;
  }
  return line;
}

bool EmptyCopyLog(Platform& files, const std::string& log_path) {
  Handle file = -1;
  if (files.OpenForWriting(log_path, WriteMode::kTruncate, &file) != 0)
    return false;
  return files.Close(file) == 0;
}

CopyLogClaim::CopyLogClaim(Platform& files, const std::string& log_path)
    : files_(files) {
  if (files_.OpenForWriting(log_path, WriteMode::kAppend, &file_) != 0) {
    // Not even there to be appended to: the lines will say so one by one.
    file_ = -1;
    emptied_ = EmptyCopyLog(files_, log_path);
    return;
  }
  const int error = files_.LockFile(file_, /*exclusive=*/true, /*wait=*/false);
  if (error == EWOULDBLOCK) {
    // Another run holds the log. It holds it exclusively only while it
    // empties it, which is over in a moment.
    (void)files_.LockFile(file_, /*exclusive=*/false, /*wait=*/true);
    return;
  }
  emptied_ = EmptyCopyLog(files_, log_path);
  // Shared from now on, so that a run starting meanwhile sees this one.
  if (error == 0)
    (void)files_.LockFile(file_, /*exclusive=*/false, /*wait=*/true);
}

CopyLogClaim::~CopyLogClaim() {
  if (file_ >= 0) files_.Close(file_);
}

int AppendCopyLog(Platform& files, const std::string& log_path,
                  const std::string& destination_path) {
  Handle file = -1;
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
  return AppendCopyLog(DefaultPlatform(), log_path, destination_path);
}

}  // namespace ferrybox
