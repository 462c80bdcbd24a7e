// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/message_lists.h"

namespace ferrybox {

void MessageLists::lp1(const std::string& tstring) {
  if (window_.CheckValue(CheckBox::kCheck1) == 0) return;
  Append(ListBox::kList1, list1_count_, tstring);
}

void MessageLists::lp2(const std::string& tstring) {
  if (window_.CheckValue(CheckBox::kCheck2) == 0) return;
  Append(ListBox::kList2, list2_count_, tstring);
}

void MessageLists::lp3(const std::string& tstring) {
  Append(ListBox::kList3, list3_count_, tstring);
}

void MessageLists::ClearFileLists() {
  window_.ClearList(ListBox::kList1);
  window_.ClearList(ListBox::kList2);
  list1_count_ = 0;
  list2_count_ = 0;
}

void MessageLists::Append(ListBox list, int& counter, const std::string& line) {
  if (counter > kListLimit) {
    window_.SetTopIndex(list, 0);
    window_.ClearList(list);
    counter = 0;
  }
  ++counter;
  window_.AddItem(list, line);
  window_.RepaintList(list);
  if (counter > kScrollDistance)
    window_.SetTopIndex(list, counter - kScrollDistance);
}

}  // namespace ferrybox
