// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/console_window.h"

#include "engine/copy_log.h"

namespace ferrybox {

ConsoleWindow::ConsoleWindow(ConsoleBoxes boxes, std::ostream& out,
                             bool out_is_terminal, std::ostream& err,
                             ProgressLine& progress, Clock clock)
    : boxes_(std::move(boxes)),
      out_(out),
      out_is_terminal_(out_is_terminal),
      err_(err),
      progress_(progress),
      clock_(std::move(clock)) {
  next_tick_ = clock_();
}

int ConsoleWindow::CheckValue(CheckBox box) const {
  switch (box) {
    case CheckBox::kCheck1:
      return boxes_.check1;
    case CheckBox::kCheck2:
      return boxes_.check2;
    case CheckBox::kCheck3:
      return boxes_.check3;
  }
  return 0;
}

void ConsoleWindow::ScanStarted() {
  loop_started_ = false;
  run_progress_ = {};
  Tick();
}

void ConsoleWindow::CopyingStarted(int64_t files_collected) {
  loop_started_ = true;
  loop_start_ = clock_();
  run_progress_ = {};
  run_progress_.files_collected = files_collected;
}

void ConsoleWindow::FileStarted(const RunProgress& progress) {
  run_progress_ = progress;
  Tick();
}

void ConsoleWindow::AddItem(ListBox list, const std::string& line) {
  pending_ += OneLine(line);
  pending_ += '\n';
  if (list == ListBox::kList3) {
    WriteOutput();
  } else if (pending_.size() >= kOutputChunk) {
    WriteOutput();
  }
}

void ConsoleWindow::ReportFailure(const Failure& failure) {
  failures_.Add(failure);
  progress_.Clear();
  if (failure.content_kept) {
    // The copy is there: only what the destination would not keep is told.
    err_ << kCliPrefix << "cannot keep the attribute "
         << (failure.attribute.empty() ? "" : OneLine(failure.attribute) + " ")
         << "of " << OneLine(failure.source_path) << " on "
         << OneLine(failure.path) << ": " << ErrorText(failure.error)
         << "; its content, owner, permissions and times are copied, and a "
            "later run tries again when the file changes, or with "
            "--check-attributes\n"
         << std::flush;
    return;
  }
  err_ << kCliPrefix << "cannot copy " << OneLine(failure.source_path) << " to "
       << OneLine(failure.path) << ": " << failure.Reason() << "\n"
       << std::flush;
}

void ConsoleWindow::Finish() {
  WriteOutput();
  progress_.Clear();
}

void ConsoleWindow::Tick() {
  const auto now = clock_();
  if (now < next_tick_) return;
  next_tick_ = now + kTick;
  WriteOutput();
  if (!progress_.enabled()) return;
  progress_.Draw(loop_started_ ? ProgressText(Figures()) : "Scanning files...");
}

void ConsoleWindow::WriteOutput() {
  if (pending_.empty()) return;
  if (out_is_terminal_) progress_.Clear();
  if (!output_failed_) {
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    out_.flush();
    if (!out_) output_failed_ = true;
  }
  pending_.clear();
}

ProgressFigures ConsoleWindow::Figures() const {
  ProgressFigures figures;
  figures.files_handled = run_progress_.files_handled;
  figures.files_total = run_progress_.files_collected;
  figures.files_copied = run_progress_.files_copied;
  figures.bytes_total = run_progress_.bytes_total;
  if (loop_started_) {
    figures.seconds =
        std::chrono::duration<double>(clock_() - loop_start_).count();
  }
  return figures;
}

}  // namespace ferrybox
