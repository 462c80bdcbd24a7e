// SPDX-License-Identifier: GPL-3.0-or-later
// The three message lists: lp1, lp2, lp3.
#ifndef FERRYBOX_ENGINE_MESSAGE_LISTS_H_
#define FERRYBOX_ENGINE_MESSAGE_LISTS_H_

#include <string>

#include "engine/window.h"

namespace ferrybox {

/// A list empties itself when a line arrives while it already holds more
/// than this many lines.
inline constexpr int kListLimit = 32000;
/// Once a list holds more lines than this, it scrolls so the newest line
/// sits at the bottom of the view.
inline constexpr int kScrollDistance = 5;

/// Appends lines to the window's lists, keeping each list's line counter,
/// its size limit and its scroll position. The counters equal the number of
/// lines in each list, since nothing else adds lines.
class MessageLists {
 public:
  explicit MessageLists(Window& window) : window_(window) {}

  /// Source files handled; shown only while "Show Files" (Check1) is ticked.
  void lp1(const std::string& tstring);
  /// Destination actions; shown only while "Show Files" (Check2) is ticked.
  void lp2(const std::string& tstring);
  /// Messages and errors; always shown.
  void lp3(const std::string& tstring);

  /// Empties List1 and List2 and their counters, as every run starts.
  void ClearFileLists();

 private:
  void Append(ListBox list, int& counter, const std::string& line);

  Window& window_;
  int list1_count_ = 0;
  int list2_count_ = 0;
  int list3_count_ = 0;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_MESSAGE_LISTS_H_
