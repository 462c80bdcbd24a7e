// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "settings/profile.h"

namespace ferrybox {
namespace {

// A profile line gives a check box state: the leading number, blanks
// skipped anywhere, taken to the nearest whole number with halves going to
// the even one; a line without a number gives 0.
TEST(CheckStateFromLine, RoundsTheLeadingNumberToAState) {
  constexpr int kRefused = -1;  // not 0, 1 or 2
  const struct {
    int state;
    std::vector<const char*> lines;
  } cases[] = {
      {0,
       {"0", "", "   ", "abc", "x1", ".", "0.49", "-0.4", ".5", "0.5", "-0.5"}},
      {1, {" 1 ", "1", "1x", "+1", "1 x 2", "1.", "0.51", "1.49", "1e0", "1e"}},
      {2, {" 2 ", "1.5", "2.5", "2.49", "2D0", "15e-1"}},
      {kRefused, {"3", "-1", "1 0", "3.5", "2.51", "-0.6", "1e1", "1e400"}},
  };
  for (const auto& c : cases) {
    for (const char* line : c.lines) {
      int state = kRefused;
      const bool ok = CheckStateFromLine(line, &state);
      EXPECT_EQ(ok ? state : kRefused, c.state) << '"' << line << '"';
    }
  }
}

}  // namespace
}  // namespace ferrybox
