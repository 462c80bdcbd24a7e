// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/progress_line.h"

#include <cstdio>

namespace ferrybox {
namespace {

// Carriage return, then erase from the cursor to the end of the line.
constexpr char kReturn[] = "\r";
constexpr char kEraseToEnd[] = "\x1b[K";

}  // namespace

std::string ProgressText(const ProgressFigures& figures) {
  const double megabytes =
      static_cast<double>(figures.bytes_total) / 1000.0 / 1024.0;
  char buffer[160];
  int length = std::snprintf(
      buffer, sizeof buffer, "%lld of %lld files, %lld copied, %.0f MB",
      static_cast<long long>(figures.files_handled),
      static_cast<long long>(figures.files_total),
      static_cast<long long>(figures.files_copied), megabytes);
  std::string text(buffer, length > 0 ? length : 0);
  if (figures.seconds > 0) {
    length = std::snprintf(buffer, sizeof buffer, ", %.1f MB/s",
                           megabytes / figures.seconds);
    text.append(buffer, length > 0 ? length : 0);
  }
  return text;
}

void ProgressLine::Draw(const std::string& text) {
  if (!enabled_) return;
  err_ << kReturn << text << kEraseToEnd << std::flush;
  drawn_ = true;
}

void ProgressLine::Clear() {
  if (!enabled_ || !drawn_) return;
  err_ << kReturn << kEraseToEnd << std::flush;
  drawn_ = false;
}

}  // namespace ferrybox
