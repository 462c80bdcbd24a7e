// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as the command-line program shows it: on the console.
#ifndef FERRYBOX_CLI_CONSOLE_WINDOW_H_
#define FERRYBOX_CLI_CONSOLE_WINDOW_H_

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "cli/failure_tally.h"
#include "cli/progress_line.h"
#include "engine/window.h"

namespace ferrybox {

/// What every message of ferrybox-cli on standard error begins with.
inline constexpr char kCliPrefix[] = "ferrybox-cli: ";

/// The folder boxes and option boxes of one command-line run; they never
/// change while it runs.
struct ConsoleBoxes {
  std::string text1;
  std::string text2;
  int check1 = 0;
  int check2 = 0;
  int check3 = 0;
  LeaveOutOptions leave_out;
  /// For how many days earlier versions are kept; 0 keeps none.
  int keep_days = 0;
  bool check_attributes = false;
};

/// Shows a run on the console. Every line the run adds to any of the three
/// lists goes to `out`, one per line, in the order added (the "Show Files"
/// gates have already decided what reaches a list), with control characters
/// written as the copy log writes them, so that a file name never breaks a
/// line. Each failed copy is also told on `err` with its reason, and
/// counted for the closing summary. The run's progress feeds the progress
/// line; the figure boxes, scroll and repaint requests mean nothing here.
///
/// Lines are written in batches: when a messages-list line arrives, when
/// 64 KiB are waiting, at every tick (ten a second) and at Finish(). At a
/// tick the progress line is redrawn too. Ticks are looked for after every
/// file, whenever the run yields and while it scans; there the stop request
/// is looked at too, so a stop ends a scan and takes effect before the next
/// file (or during a big one).
class ConsoleWindow : public Window {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  /// Shortest time between two ticks.
  static constexpr std::chrono::milliseconds kTick{100};
  /// Waiting output that is written without waiting for a tick.
  static constexpr size_t kOutputChunk = 64 * 1024;

  /// `out_is_terminal` says that `out` shares the screen with the progress
  /// line, which is then erased before lines are written. `err` is where
  /// the progress line is drawn.
  ConsoleWindow(ConsoleBoxes boxes, std::ostream& out, bool out_is_terminal,
                std::ostream& err, ProgressLine& progress,
                Clock clock = std::chrono::steady_clock::now);

  /// Writes every waiting line and erases the progress line.
  void Finish();

  /// Whether writing to `out` failed; lines from then on were dropped.
  bool output_failed() const { return output_failed_; }
  /// The failed copies reported so far.
  const FailureTally& failures() const { return failures_; }

  // Window
  std::string Text1() const override { return boxes_.text1; }
  std::string Text2() const override { return boxes_.text2; }
  int CheckValue(CheckBox box) const override;
  LeaveOutOptions LeaveOut() const override { return boxes_.leave_out; }
  int KeepVersionsDays() const override { return boxes_.keep_days; }
  bool CheckAttributes() const override { return boxes_.check_attributes; }
  void SetFigure(FigureBox, const std::string&) override {}
  void SetCount(FigureBox, int64_t) override {}
  void AddItem(ListBox list, const std::string& line) override;
  void ClearList(ListBox) override {}
  void SetTopIndex(ListBox, int) override {}
  void RepaintList(ListBox) override {}
  void ProcessEvents() override { Tick(); }
  void KeepAlive() override { Tick(); }
  void ShowPaused(bool) override {}
  /// "ferrybox-cli: cannot copy SOURCE to DESTINATION: REASON" on `err`.
  void ReportFailure(const Failure& failure) override;
  void ScanStarted() override;
  void CopyingStarted(int64_t files_collected) override;
  void FileStarted(const RunProgress& progress) override;

 private:
  void Tick();
  void WriteOutput();
  ProgressFigures Figures() const;

  ConsoleBoxes boxes_;
  std::ostream& out_;
  bool out_is_terminal_;
  std::ostream& err_;
  ProgressLine& progress_;
  Clock clock_;

  std::string pending_;
  bool output_failed_ = false;
  FailureTally failures_;

  RunProgress run_progress_;
  bool loop_started_ = false;
  std::chrono::steady_clock::time_point loop_start_{};
  std::chrono::steady_clock::time_point next_tick_{};
};

}  // namespace ferrybox

#endif  // FERRYBOX_CLI_CONSOLE_WINDOW_H_
