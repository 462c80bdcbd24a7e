#include "engine/backup_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "tests/engine/run_fixture.h"

namespace ferrybox {
namespace {

class RunTest : public RunFixture {
 protected:
  void MakeFiles(int count, size_t size = 10) {
    for (int i = 0; i < count; ++i)
      tree.Write("src/f" + std::to_string(i), std::string(size, 'x'));
  }
};

TEST_F(RunTest, KbTotalRoundsHalfToEvenAndTheFiguresFollowTheClock) {
  double now = 100;  // two seconds pass between readings of the clock
  run->SetClockForTesting([&] { return (now += 2.0) - 2.0; });
  std::vector<std::string> shown;  // at each progress update
  size_t files = 0;
  window.on_process_events = [&] {
    // The flush after the last file keeps the window alive too.
    if (Figure(FigureBox::kText3) == std::to_string(files)) return;
    for (FigureBox box : {FigureBox::kText3, FigureBox::kText6})
      shown.push_back(Figure(box));
  };
  const std::vector<size_t> many(250, 1500);
  const std::pair<std::vector<size_t>, int64_t> cases[] = {
      {{1500}, 2}, {{1500, 1500}, 4}, {{499}, 0},
      {{500}, 0},  {many, 500},       {{2048000}, 2048}};
  for (const auto& [sizes, expected] : cases) {
    SCOPED_TRACE(sizes.size());
    std::filesystem::remove_all(Src(""));
    for (size_t i = 0; i < sizes.size(); ++i)
      tree.Write("src/f" + std::to_string(i), std::string(sizes[i], 'k'));
    files = sizes.size();
    Go();
    EXPECT_EQ(run->KbTotal(), expected);
  }
  // Only after files 101 and 202, with a rate that has no unit yet.
  EXPECT_EQ(shown, (std::vector<std::string>{"101", "0", "202", "0"}));
  EXPECT_EQ(Figure(FigureBox::kText5), "2Mb");
  EXPECT_EQ(Figure(FigureBox::kText6), "1Mb per Sec");
  EXPECT_EQ(List3().back(), "Finished....in :2.00 seconds");
}

TEST_F(RunTest, StopOrPauseClickedAtTheUpdateAfterFile101) {
  MakeFiles(1000);
  enum Clicks { kStop, kPauseResume, kPauseStop };
  for (Clicks clicks : {kStop, kPauseResume, kPauseStop}) {
    SCOPED_TRACE(clicks);
    List3().clear();
    int waits = 0;
    window.on_process_events = [&] {
      if (clicks == kStop) {
        run->Command2_Click();
      } else if (!run->PauseFlag() && waits == 0) {
        run->Command11_Click();
        EXPECT_TRUE(window.paused_shown);
      } else if (run->PauseFlag() && ++waits == 5) {
        EXPECT_EQ(Figure(FigureBox::kText3), "101");  // held before file 102
        clicks == kPauseStop ? run->Command2_Click() : run->Command11_Click();
      }
    };
    Go();
    const bool stopped = clicks != kPauseResume;
    EXPECT_EQ(waits, clicks == kStop ? 0 : 5);
    EXPECT_EQ(Figure(FigureBox::kText3), stopped ? "101" : "1000");
    EXPECT_EQ(run->LastOutcome().stopped, stopped);
    EXPECT_EQ(Count(List3(), "Finished....in :"), 1);
    EXPECT_FALSE(run->PauseFlag());
    EXPECT_FALSE(window.paused_shown);
  }
}

TEST_F(RunTest, GoDuringARunRunsASecondRunInside) {
  MakeFiles(250, 1000);
  int64_t nested_total = -1;
  window.on_process_events = [&] {
    if (nested_total >= 0) return;
    nested_total = 0;
    run->Command3_Click();
    nested_total = run->FilesCopied();
  };
  Go();
  EXPECT_EQ(nested_total, 250);
  // The outer run goes on from file 102, counting on from the nested run.
  EXPECT_EQ(run->KbTotal(), 250 + 149);
  EXPECT_EQ(Count(List3(), "Finished....in :"), 2);
}

TEST_F(RunTest, EveryRefusalWritesItsLineAndADestinationInsideIsLeftOut) {
  tree.Write("src/a", "x");
  ASSERT_EQ(symlink(Src("").c_str(), tree.Path("alias").c_str()), 0);
  const std::string missing = tree.Path("missing");
  const std::vector<std::vector<std::string>> cases = {
      {"", Dst(), kNoSourceFolder},
      {missing, Dst(), kSourceFolderNotFound + missing},
      {Src(""), "", kNoDestinationFolder},
      {Src(""), tree.Path("src"), kSameFolder},
      {Src(""), tree.Path("alias/"), kSameFolder},
      // Through a level that does not exist, as it would be made.
      {Src(""), Src("new/.."), kSameFolder},
      {Src(""), Src("new/deeper/../../"), kSameFolder},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[2]);
    window.text1 = c[0];
    window.text2 = c[1];
    Go();
    EXPECT_EQ(List3().end()[-2], c[2]);
    EXPECT_TRUE(List3().back().starts_with("Finished....in :"));
    EXPECT_TRUE(run->LastOutcome().refused);
    EXPECT_FALSE(testing::Exists(Dst()));
    EXPECT_FALSE(testing::Exists(Src("new")));
  }
  // A destination inside the source is no refusal: it is left out, also
  // when reached through a level that does not exist.
  window.text2 = Src("new/../backup");
  Go();
  Go();
  EXPECT_EQ(testing::ReadFile(Src("backup/a")), "x");
  EXPECT_FALSE(testing::Exists(Src("backup/backup")));
  EXPECT_FALSE(testing::Exists(Src("new")));
  EXPECT_EQ(Figure(FigureBox::kText3), "1");
}

TEST_F(RunTest, CollectsRootFilesFirstThenEachSubfolderWholeTree) {
  std::set<std::string> all;
  for (const char* name :
       {"r1", ".r2", "a/f1", "a/f2", "a/deep/g1", "a/deep/g2", "a/deep/er/h",
        ".b/f3", ".b/.deep/g3", "c/x/y/z", "c/f4"})
    all.insert(tree.Write("src/" + std::string(name), "x"));
  // "a0" to "a19" begin with "a" without being inside it; listing order puts
  // some before "a", whose folder must still be checked and made.
  for (int i = 0; i < 20; ++i)
    all.insert(tree.Write("src/a" + std::to_string(i) + "/f", "x"));
  // Neither a FIFO (opening it would block) nor a link back up is entered;
  // the link is an entry of its folder.
  ASSERT_EQ(mkfifo(Src("a/fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink("..", Src("a/deep/up").c_str()), 0);
  all.insert(Src("a/deep/up"));
  Go();
  const std::vector<std::string> files = window.List(ListBox::kList1);
  std::filesystem::remove_all(Dst());  // each run checks every folder again
  window.text1 = Src("");
  Go();
  EXPECT_EQ(window.List(ListBox::kList1), files);
  std::vector<std::string> sorted = files;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, std::vector<std::string>(all.begin(), all.end()));
  EXPECT_EQ(Count(List3(), "Error"), 0);
  // A folder's own files come before any of its subfolders', and once the
  // walk has left a folder it never comes back.
  const auto parent = [](const std::string& p) {
    return p.substr(0, p.rfind('/'));
  };
  std::set<std::string> left;
  for (size_t i = 1; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    const std::string from = parent(files[i - 1]), to = parent(files[i]);
    EXPECT_FALSE(from.starts_with(to + "/"));
    for (std::string f = from; f.size() > Src("").size(); f = parent(f))
      if (!(to + "/").starts_with(f + "/")) left.insert(f);
    for (std::string f = to; f.size() > Src("").size(); f = parent(f))
      EXPECT_EQ(left.count(f), 0u);
  }
}

}  // namespace
}  // namespace ferrybox
