// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/backup_run.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <tuple>

#include "engine/copy_log.h"
#include "engine/file_sync.h"
#include "engine/message_lists.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

class RunTest : public RunFixture {
 protected:
  void MakeFiles(int count, size_t size = 10) {
    for (int i = 0; i < count; ++i)
      tree.Write("src/f" + std::to_string(i), std::string(size, 'x'));
  }
};

TEST_F(RunTest, KbTotalCountsEveryByteAndTheFiguresFollowTheClock) {
  double now = 100;
  double step = 2;  // seconds between readings of the clock
  UsePlatform(DefaultPlatform(),
              {.clock = [&] { return (now += step) - step; }});
  // Under this step the rate reads the bytes handled.
  constexpr double kByte = 1 / 1024e3;
  std::vector<std::string> shown;  // at each progress update
  size_t files = 0;
  window.on_process_events = [&] {
    // Events are handled before the first file and during the flush after
    // the last one too, and a slow machine may take a quarter second between
    // updates.
    const std::string handled = Figure(FigureBox::kText3);
    if (handled == "0" || handled == std::to_string(files) ||
        std::stoi(handled) % 101 != 0)
      return;
    for (FigureBox box : {FigureBox::kText3, FigureBox::kText6})
      shown.push_back(Figure(box));
  };
  // Rounded only when shown: files under 500 bytes count too (20,000 files
  // of 499 bytes are about 10 Mb), and each run counts from 0.
  // The sizes of the files, the seconds between readings, Text5 and Text6.
  const std::tuple<std::vector<size_t>, double, const char*, const char*>
      cases[] = {
          {{1500, 1500}, kByte, "0Mb", "3000Mb per Sec"},
          {{499, 499, 499}, kByte, "0Mb", "1497Mb per Sec"},
          // Over three readings: at files 101 and 202, and the last.
          {std::vector<size_t>(250, 1500), kByte, "0Mb", "125000Mb per Sec"},
          {{2048000}, 2, "2Mb", "1Mb per Sec"}};
  for (const auto& [sizes, seconds, text5, text6] : cases) {
    SCOPED_TRACE(sizes.size());
    std::filesystem::remove_all(Src(""));
    for (size_t i = 0; i < sizes.size(); ++i)
      tree.Write("src/f" + std::to_string(i), std::string(sizes[i], 'k'));
    files = sizes.size();
    step = seconds;
    Go();
    EXPECT_EQ(Figure(FigureBox::kText5), text5);
    EXPECT_EQ(Figure(FigureBox::kText6), text6);
  }
  // Only after files 101 and 202, with a rate that has no unit yet.
  EXPECT_EQ(shown,
            (std::vector<std::string>{"101", "151500", "202", "151500"}));
  EXPECT_EQ(List3().back(), "Finished....in :2.00 seconds");
}

TEST_F(RunTest, StopOrPauseClickedAtTheUpdateAfterFile101) {
  // One copy at a time: with more, the copies in flight at the click end
  // and are shown too.
  UsePlatform(DefaultPlatform(), {.copies = 1});
  constexpr int kFiles = 150;
  MakeFiles(kFiles);
  // A run that stays paused after the last click is given this many more
  // yields (a few seconds of pause), then ended, so the test fails rather
  // than hangs.
  constexpr int kYieldsBeforeGivingUp = 1000;
  enum Clicks { kStop, kPauseResume, kPauseStop };
  for (Clicks clicks : {kStop, kPauseResume, kPauseStop}) {
    SCOPED_TRACE(clicks);
    List3().clear();
    int waits = 0;
    int yields_after_last_click = 0;
    window.on_process_events = [&] {
      // Only at the update after file 101, as a slow machine may also
      // yield a quarter second into the run.
      if (Figure(FigureBox::kText3) != "101") return;
      if (clicks == kStop) {
        run->Command2_Click();
      } else if (!window.paused_shown && waits == 0) {
        run->Command11_Click();
        EXPECT_TRUE(window.paused_shown);
      } else if (window.paused_shown && waits < 5 && ++waits == 5) {
        EXPECT_EQ(Figure(FigureBox::kText3), "101");  // held before file 102
        clicks == kPauseStop ? run->Command2_Click() : run->Command11_Click();
      } else if (waits == 5 &&
                 ++yields_after_last_click > kYieldsBeforeGivingUp) {
        // A stopped run still yields while it finishes its folders; one
        // that never ends is held by a pause the click did not lift.
        ADD_FAILURE() << "still paused after the last click";
        run->Command11_Click();
      }
    };
    Go();
    const bool stopped = clicks != kPauseResume;
    EXPECT_EQ(waits, clicks == kStop ? 0 : 5);
    const int64_t handled = stopped ? 101 : kFiles;
    EXPECT_EQ(Figure(FigureBox::kText3), std::to_string(handled));
    const RunOutcome outcome{
        RunRefusal::kNone, stopped, kFiles, handled, handled, 0, {}, 0, {}};
    EXPECT_EQ(run->LastOutcome(), outcome);
    EXPECT_EQ(Count(List3(), "Finished....in :"), 1);
    EXPECT_FALSE(window.paused_shown);
  }
  // With no run under way there is nothing to hold.
  run->Command11_Click();
  EXPECT_FALSE(window.paused_shown);
}

TEST_F(RunTest, GoDuringARunRunsASecondRunInside) {
  MakeFiles(250, 1000);
  int64_t nested_total = -1;
  window.on_process_events = [&] {
    if (nested_total >= 0 || Figure(FigureBox::kText3) != "101") return;
    nested_total = 0;
    run->Command3_Click();
    nested_total = run->LastOutcome().files_copied;
  };
  Go();
  EXPECT_EQ(nested_total, 250);
  // The outer run goes on from file 102, counting on from the nested run:
  // its 250 files and 148 more come before the last.
  EXPECT_EQ(window.progress.back().bytes_total, (250 + 148) * 1000);
  EXPECT_EQ(Count(List3(), "Finished....in :"), 2);
  // Each run tells its own phases and file numbers.
  std::vector<std::string> phases = {"scan", "copying 250"};
  const auto files = [&phases](int from, int to) {
    for (int i = from; i <= to; ++i)
      phases.push_back("file " + std::to_string(i));
  };
  files(1, 101);
  phases.insert(phases.end(), {"scan", "copying 250"});
  files(1, 250);
  files(102, 250);
  EXPECT_EQ(window.phases, phases);
  EXPECT_EQ(run->LastOutcome().files_handled, 250);
}

TEST_F(RunTest, TellsEachFileAndTheOutcomeAsFacts) {
  MakeFiles(3, 1500);
  Go();
  // Copied and size count the files before the one in hand.
  EXPECT_EQ(window.progress,
            (std::vector<RunProgress>{
                {3, 1, 0, 0}, {3, 2, 1, 1500}, {3, 3, 2, 3000}}));
  EXPECT_EQ(run->LastOutcome(),
            (RunOutcome{RunRefusal::kNone, false, 3, 3, 3, 0, {}, 0, {}}));
  // Incremental and unchanged: every file is handled, none copied.
  Go(true);
  EXPECT_EQ(run->LastOutcome(),
            (RunOutcome{RunRefusal::kNone, false, 3, 3, 0, 0, {}, 0, {}}));
  // A copy that fails was handed to the copy all the same: a folder stands
  // where the file goes.
  std::filesystem::remove(Dst("f1"));
  tree.Write("dst/f1/in the way", "");
  Go();
  EXPECT_EQ(run->LastOutcome(),
            (RunOutcome{RunRefusal::kNone, false, 3, 3, 3, 1, {}, 0, {}}));
}

// A dry run shows the lines, figures and outcome of the run that follows
// it, full or incremental, into a destination still to be made; it writes
// nothing at all, not even the destination root or the copy log.
TEST_F(RunTest, ADryRunShowsWhatTheRunThatFollowsShowsAndWritesNothing) {
  struct Shown {
    std::vector<std::string> lists[3];
    std::string figures[3];
    RunOutcome outcome;
  };
  for (const bool incremental : {false, true}) {
    const std::string name = incremental ? "incremental" : "full";
    SCOPED_TRACE(name);
    UseCase(name);
    tree.Write(name + "/src/top", "x");
    tree.Write(name + "/src/locked", "l");
    tree.Write(name + "/src/a/b/deep", "dd");
    tree.MakeFolder(name + "/src/a/empty");
    ASSERT_EQ(link(Src("top").c_str(), Src("a/second").c_str()), 0);
    ASSERT_EQ(symlink("top", Src("a/link").c_str()), 0);
    testing::FaultyPlatform platform;
    platform.fail_kind = testing::FaultyPlatform::Kind::kOpen;
    platform.fail_name = "locked";
    platform.fail_error = EACCES;
    window.keep_days = 2;
    const auto go = [&](bool dry_run) {
      for (std::vector<std::string>& list : window.list) list.clear();
      UsePlatform(platform, RunOptions{.dry_run = dry_run});
      Go(incremental);
      Shown shown;
      for (int i = 0; i < 3; ++i) shown.lists[i] = window.list[i];
      // The first and last lines tell the time.
      shown.lists[2].erase(shown.lists[2].begin());
      shown.lists[2].pop_back();
      for (FigureBox box :
           {FigureBox::kText3, FigureBox::kText4, FigureBox::kText5})
        shown.figures[static_cast<int>(box)] = Figure(box);
      shown.outcome = run->LastOutcome();
      return shown;
    };
    const Shown dry = go(true);
    EXPECT_EQ(platform.writes(), std::vector<std::string>{});
    EXPECT_FALSE(testing::Exists(Dst()));
    const Shown real = go(false);
    EXPECT_EQ(testing::ReadFile(Dst("a/b/deep")), "dd");
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(dry.lists[i], real.lists[i]);
      EXPECT_EQ(dry.figures[i], real.figures[i]);
    }
    EXPECT_EQ(dry.outcome, real.outcome);
    EXPECT_EQ(real.outcome.failed_copies, 1);
    EXPECT_EQ(Count(real.lists[1], kNewFile), 5);
  }
}

TEST_F(RunTest, EveryRefusalWritesItsLineAndADestinationInsideIsLeftOut) {
  tree.Write("src/a", "x");
  tree.Write("outer/s/x/g", "x");
  ASSERT_EQ(symlink(Src("").c_str(), tree.Path("alias").c_str()), 0);
  ASSERT_EQ(symlink("outer", tree.Path("link").c_str()), 0);
  const std::string missing = tree.Path("missing");
  const std::string outer = tree.Path("outer");
  using Case = std::tuple<std::string, std::string, RunRefusal, std::string>;
  const Case cases[] = {
      {" " + Src(""), Dst(), RunRefusal::kSourceNotFullPath,
       kSourceNotFullPath},
      {Src(""), "dst", RunRefusal::kDestinationNotFullPath,
       kDestinationNotFullPath},
      {"", Dst(), RunRefusal::kNoSourceFolder, kNoSourceFolder},
      {missing, Dst(), RunRefusal::kSourceFolderNotFound,
       kSourceFolderNotFound + missing},
      {Src(""), "", RunRefusal::kNoDestinationFolder, kNoDestinationFolder},
      {Src(""), tree.Path("src"), RunRefusal::kSameFolder, kSameFolder},
      {Src(""), tree.Path("alias/"), RunRefusal::kSameFolder, kSameFolder},
      // Through a level that does not exist, as it would be made.
      {Src(""), Src("new/.."), RunRefusal::kSameFolder, kSameFolder},
      {Src(""), Src("new/deeper/../../"), RunRefusal::kSameFolder, kSameFolder},
      // Found through "..", a trailing "/" and links on either side.
      {outer + "/s", outer, RunRefusal::kSourceInsideDestination,
       kSourceInsideDestination},
      {outer + "/s/x/..", outer + "/", RunRefusal::kSourceInsideDestination,
       kSourceInsideDestination},
      {tree.Path("link/s/x"), outer, RunRefusal::kSourceInsideDestination,
       kSourceInsideDestination},
      {outer + "/s", tree.Path("link"), RunRefusal::kSourceInsideDestination,
       kSourceInsideDestination},
  };
  for (const auto& [source, destination, refusal, line] : cases) {
    SCOPED_TRACE(line);
    window.text1 = source;
    window.text2 = destination;
    window.phases.clear();
    Go();
    EXPECT_EQ(List3().end()[-2], line);
    EXPECT_TRUE(List3().back().starts_with("Finished....in :"));
    EXPECT_EQ(run->LastOutcome(),
              (RunOutcome{refusal, false, 0, 0, 0, 0, {}, 0, {}}));
    EXPECT_EQ(window.phases, std::vector<std::string>{"scan"});
    EXPECT_FALSE(testing::Exists(Dst()));
    EXPECT_FALSE(testing::Exists(Src("new")));
  }
  EXPECT_EQ(testing::Entries(outer, true),
            (std::set<std::string>{"s", "s/x", "s/x/g"}));
  // A destination inside the source is no refusal: it is left out, also
  // when reached through a level that does not exist.
  window.text1 = Src("");
  window.text2 = Src("new/../backup");
  Go();
  Go();
  EXPECT_EQ(testing::ReadFile(Src("backup/a")), "x");
  EXPECT_FALSE(testing::Exists(Src("backup/backup")));
  EXPECT_FALSE(testing::Exists(Src("new")));
  EXPECT_EQ(Figure(FigureBox::kText3), "1");
}

// A folder of the destination bind-mounted elsewhere and given as the
// source: the destination folder "inner" is the source itself.
TEST_F(RunTest, ADestinationFolderThatIsASourceFolderIsNeverWrittenIn) {
  if (geteuid() != 0) GTEST_SKIP() << "bind mounts need root";
  tree.Write("dst/inner/a", "top");
  tree.Write("dst/inner/inner/a", "nested");
  tree.MakeFolder("mnt");
  const std::string mnt = tree.Path("mnt");
  if (mount(Dst("inner").c_str(), mnt.c_str(), nullptr, MS_BIND, nullptr) != 0)
    GTEST_SKIP() << "cannot bind-mount here: " << strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{mnt};
  window.text1 = mnt;
  Go();
  EXPECT_EQ(testing::ReadFile(Dst("inner/a")), "top");
  EXPECT_EQ(testing::ReadFile(Dst("a")), "top");
  ASSERT_EQ(window.failures.size(), 1u);
  EXPECT_EQ(window.failures[0].path, Dst("inner/a"));
  EXPECT_EQ(window.failures[0].error, kErrorDestinationIsSource);
}

TEST_F(RunTest, CollectsRootFilesFirstThenEachSubfolderWholeTree) {
  std::set<std::string> all;
  for (const char* name :
       {"r1", ".r2", "a/f1", "a/f2", "a/deep/g1", "a/deep/g2", "a/deep/er/h",
        ".b/f3", ".b/.deep/g3", "c/x/y/z", "c/f4"})
    all.insert(tree.Write("src/" + std::string(name), "x"));
  // "a0" to "a19", "a b" and "a.b" begin with "a" without being inside it
  // (the last two sort before "a/"); listing order puts some before "a",
  // whose folder must still be checked and made.
  std::vector<std::string> siblings = {"a b", "a.b"};
  for (int i = 0; i < 20; ++i) siblings.push_back("a" + std::to_string(i));
  for (const std::string& name : siblings)
    all.insert(tree.Write("src/" + name + "/f", "x"));
  // Neither a FIFO (opening it would block) nor a link back up is entered;
  // the link is an entry of its folder.
  ASSERT_EQ(mkfifo(Src("a/fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink("..", Src("a/deep/up").c_str()), 0);
  all.insert(Src("a/deep/up"));
  Go();
  const std::vector<std::string> files = window.List(ListBox::kList1);
  std::filesystem::remove_all(Dst());  // each run checks every folder again
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

TEST_F(RunTest, ADeepTreeCostsOpensInProportionToItsFolders) {
  // Files at six depths of a 300-level tree: each new level is reached from
  // the one above it, never walked to again from the root.
  constexpr int kLevels = 300;
  std::string path = "src";
  for (int level = 1; level <= kLevels; ++level) {
    path += "/d";
    if (level % 50 == 0) tree.Write(path + "/f", "x");
  }
  testing::FaultyPlatform platform;
  int opens = 0;
  platform.before_call = [&](testing::FaultyPlatform::Kind kind,
                             const std::string&) {
    if (kind == testing::FaultyPlatform::Kind::kOpen) ++opens;
  };
  UsePlatform(platform);
  Go();
  EXPECT_EQ(Figure(FigureBox::kText4), "6");
  EXPECT_EQ(Count(List3(), "Error"), 0);
  // About ten a level: the scan's, the look-ahead's, the folder made and
  // finished; a walk from the root per level would be thousands more.
  EXPECT_LT(opens, 20 * kLevels);
  UsePlatform(DefaultPlatform());  // before `platform` goes
}

using Texts = std::vector<std::string>;

using MessageListsTest = RunFixture;

TEST_F(MessageListsTest, List3ScrollsFromTheSixthLineAndEmptiesAfter32001) {
  for (int i = 0; i < 5; ++i) lists.lp3("");  // empty lines count too
  EXPECT_TRUE(window.top_index_calls[2].empty());
  lists.lp3("sixth");
  EXPECT_EQ(window.top_index_calls[2], std::vector<int>{1});
  EXPECT_EQ(window.repaints[2], 6);  // every line is shown at once
  for (int i = 6; i < 32001; ++i) lists.lp3("line");
  EXPECT_EQ(window.List(ListBox::kList3).size(), 32001u);
  lists.lp3("fresh start");
  EXPECT_EQ(window.List(ListBox::kList3), Texts{"fresh start"});
  EXPECT_EQ(window.top_index_calls[2].back(), 0);  // back at the top
}

TEST_F(MessageListsTest, AClosedGateAddsNothingAndKeepsTheCounter) {
  window.check[0] = window.check[1] = 0;
  for (int i = 0; i < 5; ++i) {
    lists.lp1("lost");
    lists.lp2("lost");
  }
  window.check[0] = 2;  // greyed counts as ticked
  window.check[1] = 1;
  lists.lp1("after");
  lists.lp2("seen");
  EXPECT_EQ(window.List(ListBox::kList1), Texts{"after"});
  EXPECT_EQ(window.List(ListBox::kList2), Texts{"seen"});
  // Counted, the lost lines would have scrolled the lists; so would the
  // lines before the lists were emptied, as every run starts.
  for (int i = 0; i < 4; ++i) lists.lp1("more");
  lists.ClearFileLists();
  EXPECT_TRUE(window.List(ListBox::kList1).empty());
  lists.lp1("first");
  EXPECT_TRUE(window.top_index_calls[0].empty());
  EXPECT_TRUE(window.top_index_calls[1].empty());
}

TEST(OneLine, EscapesEveryControlAndKeepsEveryOtherCharacter) {
  const std::pair<std::string, std::string> cases[] = {
      {"tab\tescaped", "tab\\x09escaped"},
      // U+202E (right-to-left override) and U+2066 (left-to-right isolate);
      // U+2029 and U+206A, beside them, are kept.
      {"a\xe2\x80\xae"
       "b\xe2\x81\xa6"
       "c\xe2\x80\xa9\xe2\x81\xaa",
       "a\\xe2\\x80\\xaeb\\xe2\\x81\\xa6c\xe2\x80\xa9\xe2\x81\xaa"},
      {"new\nline\r\x1b[2J\x7f", "new\\x0aline\\x0d\\x1b[2J\\x7f"},
      // U+009B (CSI), U+009D (OSC), U+009C (ST) as UTF-8.
      {"a\xc2\x9b"
       "2Jb\xc2\x9d"
       "0;t\xc2\x9c",
       "a\\xc2\\x9b2Jb\\xc2\\x9d0;t\\xc2\\x9c"},
      // The same controls as single bytes, outside any sequence.
      {"\x9b"
       "2J\x80\x9f",
       "\\x9b2J\\x80\\x9f"},
      // Continuation bytes of real characters are no controls: é, €, 😀,
      // U+00A0; a cut sequence keeps its lead and escapes its C1 byte.
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xc2\xa0",
       "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xc2\xa0"},
      {"\xe2\x82"
       "x\xff",
       "\xe2\\x82x\xff"},
  };
  for (const auto& [text, line] : cases) EXPECT_EQ(OneLine(text), line) << line;
}

TEST(CopyLog, ReachesTheDiskThroughTheFileLayerAndReturnsWhatStoppedALine) {
  using Call = testing::FaultyPlatform::Kind;
  const std::string line = "Error copying file: /b/new\\x0aline\\x1b[2J\r\n";
  // The call that fails, its error (0: nothing fails), what the log holds.
  const std::tuple<Call, int, std::string> cases[] = {
      {Call::kCreate, 0, line},
      {Call::kCreate, EROFS, ""},
      {Call::kWrite, ENOSPC, ""},
      // Written, but the file system may have lost it.
      {Call::kClose, EDQUOT, line}};
  for (const auto& [call, error, written] : cases) {
    SCOPED_TRACE(error);
    testing::TempTree tree;
    const std::string log = tree.Write("filelog.txt", "earlier run\r\n");
    testing::FaultyPlatform files;
    ASSERT_TRUE(EmptyCopyLog(files, log));
    EXPECT_EQ(files.calls(), Texts({"create " + log, "close " + log}));
    if (error != 0) files.FailNth(call, 1, error);
    EXPECT_EQ(AppendCopyLog(files, log, "/b/new\nline\x1b[2J"), error);
    EXPECT_EQ(files.open_handles(), 0u);
    EXPECT_EQ(testing::ReadFile(log), written);
  }
  testing::TempTree tree;
  testing::FaultyPlatform files;
  files.FailNth(Call::kCreate, 1, EROFS);
  EXPECT_FALSE(EmptyCopyLog(files, CopyLogPath(tree.root())));
  // A link planted in its place is never followed: what it points to is
  // neither emptied nor written to, and each line says why it is missing.
  const std::string victim = tree.Write("victim", "kept");
  const std::string planted = CopyLogPath(tree.root());
  ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
  EXPECT_FALSE(EmptyCopyLog(files, planted));
  { CopyLogClaim claim(files, planted); }
  EXPECT_EQ(AppendCopyLog(files, planted, "/b/a"), ELOOP);
  EXPECT_EQ(testing::ReadFile(victim), "kept");
}

}  // namespace
}  // namespace ferrybox
