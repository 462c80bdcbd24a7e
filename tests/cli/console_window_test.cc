// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/console_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cli/progress_line.h"

namespace ferrybox {
namespace {

using std::chrono::milliseconds;

TEST(ConsoleWindowTest, ProgressLineIsRedrawnAtMostTenTimesASecond) {
  std::ostringstream out, err;
  ProgressLine progress(err, /*is_terminal=*/true);
  std::chrono::steady_clock::time_point now{std::chrono::seconds(1000)};
  ConsoleWindow window({"/src", "/dst", 1, 0, 0}, out, false, err, progress,
                       [&now] { return now; });
  const auto file = [&window](int64_t handled) {
    window.FileStarted({20000, handled, 7, 3 * 1024 * 1000});
  };
  // Every drawing of the line starts by going back to its start.
  const auto draws = [&err] { return std::ranges::count(err.str(), '\r'); };

  window.ScanStarted();
  EXPECT_EQ(err.str(), "\rScanning files...\x1b[K");
  window.CopyingStarted(20000);
  // 990 files within 99 ms: no redraw.
  for (int i = 1; i <= 990; ++i) {
    if (i % 10 == 0) now += milliseconds(1);
    file(i);
  }
  EXPECT_EQ(draws(), 1);

  now += milliseconds(1);
  file(991);
  EXPECT_EQ(draws(), 2);
  // The rate counts from the start of the copying, 100 ms earlier.
  EXPECT_TRUE(err.str().ends_with(
      "\r991 of 20000 files, 7 copied, 3 MB, 30.0 MB/s\x1b[K"))
      << err.str();

  // Yields count too, but still no more than one draw per 100 ms.
  now += milliseconds(50);
  window.ProcessEvents();
  now += milliseconds(60);
  window.ProcessEvents();
  window.ProcessEvents();
  EXPECT_EQ(draws(), 3);

  window.Finish();
  EXPECT_TRUE(err.str().ends_with("\r\x1b[K")) << "erased at the end";
}

}  // namespace
}  // namespace ferrybox
