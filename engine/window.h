// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as the backup engine sees it.
#ifndef FERRYBOX_ENGINE_WINDOW_H_
#define FERRYBOX_ENGINE_WINDOW_H_

#include <cstdint>
#include <string>

#include "engine/leave_out.h"
#include "engine/run_facts.h"
#include "platform/failure.h"

namespace ferrybox {

/// The three message lists of the main window.
enum class ListBox { kList1, kList2, kList3 };

/// The four figure boxes of the run: files handled, files copied,
/// megabytes, megabytes per second.
enum class FigureBox { kText3, kText4, kText5, kText6 };

/// The three option check boxes: "Show Files" (source), "Show Files"
/// (destination), "Incremental Backup".
enum class CheckBox { kCheck1, kCheck2, kCheck3 };

/// The one door between the engine and whatever shows its work: Form1 with
/// widgets, the command-line program on the console, tests in memory.
/// Everything is called on one thread.
class Window {
 public:
  virtual ~Window() = default;

  /// The source and destination folder boxes, as typed.
  virtual std::string Text1() const = 0;
  virtual std::string Text2() const = 0;

  /// A check box state: 0 clear, 1 ticked, 2 greyed.
  virtual int CheckValue(CheckBox box) const = 0;

  /// What a run leaves out, read once when it starts; nothing unless the
  /// front end says.
  virtual LeaveOutOptions LeaveOut() const { return {}; }

  /// For how many days a run keeps what it replaces, read once when it
  /// starts; 0 (keep nothing) unless the front end says.
  virtual int KeepVersionsDays() const { return 0; }
  /// Whether an incremental run compares every unchanged file's extended
  /// attributes, access control lists and capabilities with its copy's,
  /// rather than only those of files whose status changed since their copy.
  virtual bool CheckAttributes() const { return false; }

  /// Sets a figure box and shows it at once (a window may defer the paint
  /// to the display's pace, but never past the next ProcessEvents).
  virtual void SetFigure(FigureBox box, const std::string& text) = 0;
  /// Sets a figure box to a count: the same as SetFigure with its digits.
  /// The run sets the files handled for every file; a window that shows
  /// them only at its own pace may keep the number and write the digits
  /// only when it shows them.
  virtual void SetCount(FigureBox box, int64_t count) {
    SetFigure(box, std::to_string(count));
  }

  /// Appends one line at the bottom of a list.
  virtual void AddItem(ListBox list, const std::string& line) = 0;
  /// Removes every line of a list.
  virtual void ClearList(ListBox list) = 0;
  /// Asks the list to show line `index` (0-based) at its top.
  virtual void SetTopIndex(ListBox list, int index) = 0;
  /// Shows the list's newest state at once (same deferral rule as
  /// SetFigure).
  virtual void RepaintList(ListBox list) = 0;

  /// Handles pending user events: the run's only way to see "Stop",
  /// "Pause Copying" or a nested "Go".
  virtual void ProcessEvents() = 0;

  /// Shows what changed and handles the pending events that are not user
  /// input (paint, timers, the desktop's requests), so that the window stays
  /// alive where the run cannot take user input (the scan). Of the user's
  /// input it handles only what ends the run: "Stop", "Exit" and closing the
  /// window (Command2_Click, Abandon); every other click and key waits for
  /// the next ProcessEvents, so it never starts a nested run.
  virtual void KeepAlive() {}

  /// Tells the window whether the run is paused, so that the pause button
  /// can offer to resume.
  virtual void ShowPaused(bool paused) = 0;

  /// Tells why a copy failed, after its line reached List3 and the copy
  /// log. The window's lists keep their exact lines; a front end that can
  /// say more (the command-line program) says it here.
  virtual void ReportFailure(const Failure& failure) { (void)failure; }

  // What the run is doing, as facts for a front end that words its progress
  // itself rather than reading it back from the figure boxes.

  /// A run has begun: it checks its folders and scans the source.
  virtual void ScanStarted() {}
  /// The scan is over and the run goes through the files it collected.
  /// Not told for a refused run.
  virtual void CopyingStarted(int64_t files_collected) {
    (void)files_collected;
  }
  /// The run takes its next file.
  virtual void FileStarted(const RunProgress& progress) { (void)progress; }
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_WINDOW_H_
