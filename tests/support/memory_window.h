// SPDX-License-Identifier: GPL-3.0-or-later
// A window held in memory, for driving the engine in tests.
#ifndef FERRYBOX_TESTS_SUPPORT_MEMORY_WINDOW_H_
#define FERRYBOX_TESTS_SUPPORT_MEMORY_WINDOW_H_

#include <functional>
#include <string>
#include <vector>

#include "engine/window.h"

namespace ferrybox::testing {

/// Records what the engine shows; `on_process_events` clicks as a user would.
class MemoryWindow : public Window {
 public:
  std::string text1, text2;
  int check[3] = {1, 1, 0};
  LeaveOutOptions leave_out;
  int keep_days = 0;
  bool check_attributes = false;
  std::string figure[4] = {"0", "0", "0", "0"};
  std::vector<std::string> list[3];
  std::vector<std::string> all_lines;   ///< every list's lines, in turn
  std::vector<int> top_index_calls[3];  ///< every SetTopIndex, per list
  int repaints[3] = {0, 0, 0};
  int process_events_calls = 0;
  bool paused_shown = false;
  std::vector<Failure> failures;  ///< every ReportFailure
  /// The run's phases in order: "scan", "copying N" and "file N" (N files
  /// collected, or the file's number).
  std::vector<std::string> phases;
  std::vector<RunProgress> progress;  ///< every FileStarted
  std::function<void()> on_process_events;

  std::vector<std::string>& List(ListBox box) { return list[At(box)]; }
  const std::string& Figure(FigureBox box) const { return figure[At(box)]; }

  std::string Text1() const override { return text1; }
  std::string Text2() const override { return text2; }
  int CheckValue(CheckBox box) const override { return check[At(box)]; }
  LeaveOutOptions LeaveOut() const override { return leave_out; }
  int KeepVersionsDays() const override { return keep_days; }
  bool CheckAttributes() const override { return check_attributes; }
  void SetFigure(FigureBox box, const std::string& text) override {
    figure[At(box)] = text;
  }
  void AddItem(ListBox box, const std::string& line) override {
    List(box).push_back(line);
    all_lines.push_back(line);
  }
  void ClearList(ListBox box) override { List(box).clear(); }
  void SetTopIndex(ListBox box, int index) override {
    top_index_calls[At(box)].push_back(index);
  }
  void RepaintList(ListBox box) override { ++repaints[At(box)]; }
  void ProcessEvents() override {
    ++process_events_calls;
    if (on_process_events) on_process_events();
  }
  void ShowPaused(bool paused) override { paused_shown = paused; }
  void ReportFailure(const Failure& failure) override {
    failures.push_back(failure);
  }
  void ScanStarted() override { phases.push_back("scan"); }
  void CopyingStarted(int64_t files_collected) override {
    phases.push_back("copying " + std::to_string(files_collected));
  }
  void FileStarted(const RunProgress& file) override {
    phases.push_back("file " + std::to_string(file.files_handled));
    progress.push_back(file);
  }

 private:
  static int At(auto box) { return static_cast<int>(box); }
};

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_MEMORY_WINDOW_H_
