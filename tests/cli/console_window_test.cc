// SPDX-License-Identifier: GPL-3.0-or-later
// What ferrybox-cli writes on standard error: the progress line, and the
// closing summary of failed copies.
#include "cli/console_window.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cli/failure_tally.h"
#include "cli/progress_line.h"

namespace ferrybox {
namespace {

using std::chrono::milliseconds;

TEST(ConsoleWindowTest, ProgressLineIsRedrawnAtMostTenTimesASecond) {
  std::ostringstream out, err;
  ProgressLine progress(err, /*is_terminal=*/true);
  std::chrono::steady_clock::time_point now{std::chrono::seconds(1000)};
  ConsoleWindow window({"/src", "/dst", 1, 0, 0, {}, 0, false}, out, false, err,
                       progress, [&now] { return now; });
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

TEST(FailureTally, CountsByReasonMostFrequentFirstAndTellsWhatTheLogHolds) {
  struct Case {
    std::vector<Failure> failures;
    std::string summary;
  };
  const Failure full{"copy", "/d/a", "/s/a", ENOSPC};
  const Failure denied{"copy", "/d/b", "/s/b", EACCES};
  const Failure changed{"copy", "/d/c", "/s/c", kErrorSourceChanged};
  const Failure unlogged{"copy", "/d/d", "/s/d", EACCES, EROFS};
  const std::string lists = "the copy log lists them: /p/filelog.txt";
  const Case cases[] = {
      {{}, ""},
      {{full}, "1 copy failed (No space left on device: 1); " + lists},
      // Ties keep the order first met; more frequent reasons go first.
      {{denied, full, changed, full},
       "4 copies failed (No space left on device: 2, Permission denied: 1, " +
           ErrorText(kErrorSourceChanged) + ": 1); " + lists},
      {{unlogged},
       "1 copy failed (Permission denied: 1); the copy log could not be "
       "written: /p/filelog.txt: Read-only file system"},
      {{full, unlogged, unlogged},
       "3 copies failed (Permission denied: 2, No space left on device: 1); "
       "the copy log lists 1 of them, the rest could not be written: "
       "/p/filelog.txt: Read-only file system"},
  };
  for (const Case& c : cases) {
    FailureTally tally;
    for (const Failure& failure : c.failures) tally.Add(failure);
    EXPECT_EQ(tally.count(), static_cast<int64_t>(c.failures.size()));
    EXPECT_EQ(tally.Summary("/p/filelog.txt"), c.summary);
  }
}

}  // namespace
}  // namespace ferrybox
