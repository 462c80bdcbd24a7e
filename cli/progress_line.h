// SPDX-License-Identifier: GPL-3.0-or-later
// The live progress line on a terminal's standard error.
#ifndef FERRYBOX_CLI_PROGRESS_LINE_H_
#define FERRYBOX_CLI_PROGRESS_LINE_H_

#include <cstdint>
#include <ostream>
#include <string>

namespace ferrybox {

/// The figures one progress line shows.
struct ProgressFigures {
  int64_t files_handled = 0;
  int64_t files_total = 0;
  int64_t files_copied = 0;
  /// Size handled, in bytes (shown as megabytes of 1024 units of 1000 bytes,
  /// as the window's figures are).
  int64_t bytes_total = 0;
  /// Time since the run began going through its files.
  double seconds = 0;
};

/// "1234 of 20000 files, 1200 copied, 12 MB, 3.4 MB/s"; the rate is left
/// out while no time has passed.
std::string ProgressText(const ProgressFigures& figures);

/// One line redrawn in place ("\r", the text, erase to the end of the
/// line) and erased on Clear(). A disabled line (standard error is not a
/// terminal) writes nothing at all. The caller decides how often to draw.
class ProgressLine {
 public:
  ProgressLine(std::ostream& err, bool enabled)
      : err_(err), enabled_(enabled) {}

  bool enabled() const { return enabled_; }
  /// Whether a line is on the screen now.
  bool drawn() const { return drawn_; }

  /// Replaces the line on the screen with `text`.
  void Draw(const std::string& text);
  /// Erases the line, so that other output starts at the left margin.
  void Clear();

 private:
  std::ostream& err_;
  bool enabled_;
  bool drawn_ = false;
};

}  // namespace ferrybox

#endif  // FERRYBOX_CLI_PROGRESS_LINE_H_
