// SPDX-License-Identifier: GPL-3.0-or-later
// The closing summary of failed copies.
#include "cli/failure_tally.h"

#include <errno.h>
#include <gtest/gtest.h>

namespace ferrybox {
namespace {

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
