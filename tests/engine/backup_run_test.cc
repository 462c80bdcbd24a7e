#include "engine/backup_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "tests/engine/run_fixture.h"

namespace ferrybox {
namespace {

using testing::Exists;
using testing::ReadFile;

class RunTest : public RunFixture {
 protected:
  // Writes `count` files of `size` bytes straight into the source root.
  void MakeFiles(int count, size_t size = 10) {
    for (int i = 0; i < count; ++i)
      tree.Write("src/f" + std::to_string(i), std::string(size, 'x'));
  }
  // A clock that stands still unless a test moves it.
  void UseFakeClock() {
    run->SetClockForTesting([this] { return now; });
  }
  int Closings() {
    return static_cast<int>(std::count_if(
        List3().begin(), List3().end(),
        [](const auto& line) { return line.starts_with("Finished....in :"); }));
  }

  double now = 100.0;
};

using RunKbTotal = RunTest;
using RunFigures = RunTest;
using RunStopAndPause = RunTest;
using RunNesting = RunTest;
using RunRefusals = RunTest;

TEST_F(RunKbTotal, RoundsTheRunningTotalHalfToEvenAfterEveryFile) {
  const std::pair<std::vector<size_t>, int64_t> cases[] = {
      {{1500}, 2}, {{1500, 1500}, 4}, {{499}, 0}, {{500}, 0}, {{2048000}, 2048},
  };
  for (const auto& [sizes, expected] : cases) {
    std::filesystem::remove_all(Src(""));
    for (size_t i = 0; i < sizes.size(); ++i)
      tree.Write("src/f" + std::to_string(i), std::string(sizes[i], 'k'));
    Go();
    EXPECT_EQ(run->KbTotal(), expected) << sizes.size() << " " << sizes[0];
  }
  // 2048 units of 1000 bytes show as 2 megabytes.
  EXPECT_EQ(Figure(FigureBox::kText5), "2Mb");
}

TEST_F(RunFigures, TheClosingLineAndRateFollowTheElapsedTime) {
  tree.Write("src/big", std::string(4096000, 'b'));  // 4000 units: 3.9 Mb
  // The clock moves two seconds while the file is handled.
  run->SetClockForTesting([this] {
    const double reading = now;
    now += 2.0;
    return reading;
  });
  Go();
  EXPECT_EQ(Figure(FigureBox::kText5), "4Mb");
  EXPECT_EQ(Figure(FigureBox::kText6), "2Mb per Sec");
  EXPECT_EQ(List3().back(), "Finished....in :2.00 seconds");
  EXPECT_EQ(Figure(FigureBox::kText3), "1");
  EXPECT_EQ(Figure(FigureBox::kText4), "1");
}

TEST_F(RunFigures, NoTimePassedLeavesTheRateAsItWas) {
  MakeFiles(3);
  UseFakeClock();
  Go();
  EXPECT_EQ(Figure(FigureBox::kText6), "0");
  EXPECT_EQ(Figure(FigureBox::kText5), "0Mb");
  EXPECT_EQ(List3().back(), "Finished....in :0.00 seconds");
  ASSERT_EQ(List3().size(), 3u);
  EXPECT_TRUE(List3()[0].starts_with("Starting copy: "));
  EXPECT_GT(List3()[0].size(), std::string("Starting copy: ").size());
  EXPECT_EQ(List3()[1], "Please wait...");
}

TEST_F(RunFigures, ProgressShowsAfterFile101And202OnlyWithABareRate) {
  MakeFiles(250, 1500);
  std::vector<std::string> text3_at_update, text5_at_update, text6_at_update;
  run->SetClockForTesting([this] { return now += 0.5; });
  window.on_process_events = [&] {
    text3_at_update.push_back(Figure(FigureBox::kText3));
    text5_at_update.push_back(Figure(FigureBox::kText5));
    text6_at_update.push_back(Figure(FigureBox::kText6));
  };
  Go();
  EXPECT_EQ(text3_at_update, (std::vector<std::string>{"101", "202"}));
  // Each 1.5 units lands on a half and rounds up to the even total, so 101
  // files make 202 units: 0.2 Mb, shown as 0.
  EXPECT_EQ(text5_at_update[0], "0Mb");
  EXPECT_EQ(text6_at_update[0], "0");
  EXPECT_EQ(window.process_events_calls, 2);
  EXPECT_EQ(Figure(FigureBox::kText3), "250");
  EXPECT_EQ(run->KbTotal(), 500);
  EXPECT_TRUE(Figure(FigureBox::kText6).ends_with("Mb per Sec"));
}

TEST_F(RunFigures, ATreeOf100FilesNeverYields) {
  MakeFiles(100);
  window.on_process_events = [&] { run->Command2_Click(); };
  Go();
  EXPECT_EQ(window.process_events_calls, 0);
  EXPECT_EQ(Figure(FigureBox::kText3), "100");
  EXPECT_FALSE(run->LastOutcome().stopped);
}

TEST_F(RunStopAndPause, StopIsSeenAtTheUpdateAfterFile101) {
  MakeFiles(1000);
  window.on_process_events = [&] { run->Command2_Click(); };
  Go();
  EXPECT_EQ(Figure(FigureBox::kText3), "101");
  EXPECT_EQ(Figure(FigureBox::kText4), "101");
  EXPECT_TRUE(run->LastOutcome().stopped);
  EXPECT_EQ(Closings(), 1);
  EXPECT_EQ(List1().size(), 101u);
}

TEST_F(RunStopAndPause, PauseHoldsTheRunUntilASecondClickResumes) {
  MakeFiles(250);
  int waits = 0;
  std::vector<bool> paused_shown;
  window.on_process_events = [&] {
    if (!run->PauseFlag() && waits == 0) {
      run->Command11_Click();
      paused_shown.push_back(window.paused_shown);
      EXPECT_EQ(Figure(FigureBox::kText3), "101");
    } else if (run->PauseFlag() && ++waits == 5) {
      EXPECT_EQ(Figure(FigureBox::kText3), "101");  // held before file 102
      run->Command11_Click();
      paused_shown.push_back(window.paused_shown);
    }
  };
  Go();
  EXPECT_EQ(waits, 5);
  EXPECT_EQ(paused_shown, (std::vector<bool>{true, false}));
  EXPECT_EQ(Figure(FigureBox::kText3), "250");
  EXPECT_FALSE(run->LastOutcome().stopped);
}

TEST_F(RunStopAndPause, StopEndsAPausedRun) {
  MakeFiles(250);
  int waits = 0;
  window.on_process_events = [&] {
    if (!run->PauseFlag()) {
      run->Command11_Click();
    } else if (++waits == 3) {
      run->Command2_Click();
    }
  };
  Go();
  EXPECT_EQ(Figure(FigureBox::kText3), "101");
  EXPECT_TRUE(run->LastOutcome().stopped);
  EXPECT_EQ(Closings(), 1);
  // Nothing is left paused once the run has ended.
  EXPECT_FALSE(run->PauseFlag());
  EXPECT_FALSE(window.paused_shown);
}

TEST_F(RunStopAndPause, AbandonUnwindsWithoutAClosingLine) {
  MakeFiles(250);
  window.on_process_events = [&] {
    run->Command11_Click();
    run->Abandon();
  };
  Go();
  EXPECT_EQ(Figure(FigureBox::kText3), "101");
  EXPECT_EQ(Closings(), 0);
  EXPECT_TRUE(run->LastOutcome().stopped);
}

TEST_F(RunNesting, GoDuringARunRunsASecondRunInside) {
  MakeFiles(250, 1000);
  int64_t nested_total = -1, outer_total = -1;
  bool nested = false;
  window.on_process_events = [&] {
    if (nested) return;
    nested = true;
    outer_total = run->FilesTotal();
    run->Command3_Click();
    nested_total = run->FilesCopied();
  };
  Go();
  EXPECT_EQ(outer_total, 250);
  EXPECT_EQ(nested_total, 250);
  EXPECT_EQ(run->FilesTotal(), 0);
  // The outer run goes on from file 102, counting on from the nested run.
  EXPECT_EQ(Figure(FigureBox::kText3), "250");
  EXPECT_EQ(run->FilesCopied(), 250 + 149);
  EXPECT_EQ(run->KbTotal(), 250 + 149);
  ASSERT_EQ(List3().size(), 6u);
  EXPECT_TRUE(List3()[2].starts_with("Starting copy: "));
  EXPECT_TRUE(List3()[4].starts_with("Finished....in :"));
  EXPECT_TRUE(List3()[5].starts_with("Finished....in :"));
  EXPECT_EQ(List1().size(), 250u + 149u);
}

TEST_F(RunNesting, GoWhilePausedRunsASecondRunThenThePausedOneFinishes) {
  MakeFiles(250);
  bool nested = false;
  window.on_process_events = [&] {
    if (!run->PauseFlag() && !nested) {
      run->Command11_Click();
    } else if (run->PauseFlag() && !nested) {
      nested = true;
      run->Command3_Click();
    }
  };
  Go();
  EXPECT_EQ(Closings(), 2);
  EXPECT_EQ(Figure(FigureBox::kText3), "250");
  EXPECT_FALSE(run->LastOutcome().stopped);
}

TEST_F(RunNesting, TwoRunsInARowKeepBothInList3Only) {
  MakeFiles(3);
  tree.Write("dst", "a file in the way");
  Go();
  EXPECT_EQ(List1().size(), 3u);
  EXPECT_EQ(run->LastOutcome().failed_copies, 3);
  unlink(Dst().c_str());
  tree.Write("src/extra", "x");
  Go();
  EXPECT_EQ(Closings(), 2);
  EXPECT_EQ(std::count_if(List3().begin(), List3().end(),
                          [](const auto& line) {
                            return line.starts_with("Error copying file: ");
                          }),
            3);
  EXPECT_EQ(List1().size(), 4u);
  EXPECT_EQ(List2().front(), "checking directory exists=" + Dst());
  EXPECT_EQ(Figure(FigureBox::kText3), "4");
  EXPECT_EQ(Figure(FigureBox::kText4), "4");
  EXPECT_EQ(CopyLog(), "");
  EXPECT_TRUE(Exists(CopyLogPath(tree.Path("program"))));
}

TEST_F(RunRefusals, EveryRefusalWritesItsLineAndClosesWithoutCopying) {
  tree.Write("src/a", "x");
  tree.Write("afile", "x");
  ASSERT_EQ(symlink(Src("").c_str(), tree.Path("alias").c_str()), 0);
  const std::pair<std::pair<std::string, std::string>, std::string> cases[] = {
      {{"", Dst()}, kNoSourceFolder},
      {{tree.Path("missing"), Dst()},
       std::string(kSourceFolderNotFound) + tree.Path("missing")},
      {{tree.Path("afile"), Dst()},
       std::string(kSourceFolderNotFound) + tree.Path("afile")},
      {{Src(""), ""}, kNoDestinationFolder},
      {{Src(""), tree.Path("src")}, kSameFolder},
      {{Src(""), tree.Path("alias/")}, kSameFolder},
  };
  for (const auto& [folders, line] : cases) {
    window.text1 = folders.first;
    window.text2 = folders.second;
    List3().clear();
    Go();
    ASSERT_EQ(List3().size(), 4u) << line;
    EXPECT_EQ(List3()[1], "Please wait...");
    EXPECT_EQ(List3()[2], line);
    EXPECT_TRUE(List3()[3].starts_with("Finished....in :"));
    EXPECT_EQ(Figure(FigureBox::kText3), "0");
    EXPECT_EQ(Figure(FigureBox::kText5), "0Mb");
    EXPECT_TRUE(run->LastOutcome().refused);
    EXPECT_FALSE(Exists(Dst()));
  }
}

TEST_F(RunRefusals, AnEmptySourceRunsAndClosesAtOnce) {
  Go();
  ASSERT_EQ(List3().size(), 3u);
  EXPECT_EQ(List3()[1], "Please wait...");
  EXPECT_FALSE(run->LastOutcome().refused);
  EXPECT_EQ(Figure(FigureBox::kText5), "0Mb");
}

}  // namespace
}  // namespace ferrybox
