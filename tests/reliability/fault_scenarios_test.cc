// SPDX-License-Identifier: GPL-3.0-or-later
// Runs whose calls fail, whose source changes, that are killed, or that
// meet another run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "engine/copy_pipeline.h"
#include "engine/flush.h"
#include "tests/reliability/scenario_fixture.h"
#include "tests/support/child_process.h"

namespace ferrybox {
namespace {

// Every other scenario, from the first or the second: a case each half.
class FaultScenarios : public ScenarioTest,
                       public ::testing::WithParamInterface<int> {};

TEST_P(FaultScenarios, EachFaultFailsItsFilesOnlyAndIsRepairedLater) {
  using Change = std::function<void()>;
  auto fail = [&](Kind kind, int nth, int error, std::string name) -> Change {
    return [=, this] { faults.FailNth(kind, nth, error, name); };
  };
  auto on = [&](Kind kind, std::string name, Change change) -> Change {
    return [=, this] {
      faults.before_call = [=, this](Kind call, const std::string& on) {
        if (call != kind || on != name) return;
        faults.before_call = nullptr;
        change();
      };
    };
  };
  auto remove = [&](std::string path) -> Change {
    return [=, this] { std::filesystem::remove_all(Src(path)); };
  };
  const std::string temp = ".~ferrybox-";
  std::vector<std::pair<Change, std::vector<std::string>>> scenarios = {
      {fail(Kind::kRead, 6, EIO, "big.bin"), {"big.bin"}},  // of 12
      // The disk full in the middle of the big copy; armed on its thread,
      // which other copies share the disk with.
      {on(Kind::kRead, "big.bin", fail(Kind::kWrite, 4, ENOSPC, temp)),
       {"big.bin"}},
      {fail(Kind::kRename, 1, EIO, "c.txt"), {"sub/c.txt"}},
      {fail(Kind::kMkdir, 1, EACCES, "fresh"), {"fresh/deep/f.txt"}},
      // A copy whose time is not set would pass for current: never kept.
      // (Armed as its content is read, on the thread that makes the copy.)
      {on(Kind::kRead, "c.txt", fail(Kind::kSetTimes, 1, EPERM, temp)),
       {"sub/c.txt"}},
      // The copy's close reports a write the disk lost: never installed.
      {on(Kind::kRead, "c.txt", fail(Kind::kClose, 1, EIO, temp)),
       {"sub/c.txt"}},
      // Rewritten while being read: a copy would mix versions.
      {on(Kind::kRead, "big.bin",
          on(Kind::kRead, "big.bin",
             [&] { WriteSrc("big.bin", Pattern(3 << 20, 3)); })),
       {"big.bin"}},
      {on(Kind::kOpen, "c.txt", remove("sub/c.txt")), {"sub/c.txt"}},
      {on(Kind::kOpen, "e.txt",
          [&] {
            remove("sub/e.txt")();
            WriteSrc("sub/e.txt/inside", "now a folder");
          }),
       {"sub/e.txt"}},
      {on(Kind::kStat, "a.txt", remove("sub")),
       {"sub/b.txt", "sub/c.txt", "sub/e.txt", "sub/d/d"}},
      // A link's copy cannot be made, or put in place.
      {on(Kind::kRead, "link", fail(Kind::kOpen, 1, EIO, temp)), {"link"}},
      {on(Kind::kRead, "link", fail(Kind::kRename, 1, EIO, "link")), {"link"}},
      // The disk did not take what the run wrote: no silent "Finished".
      {fail(Kind::kFlush, 1, EIO, ""), {""}},
      // Nor what an early flush wrote, while a copy held the run up: the
      // flush at the end does not meet that failure again.
      {[&, refuse = fail(Kind::kFlush, 1, EIO, ""),
        slow =
            on(Kind::kRead, "c.txt",
               [] { std::this_thread::sleep_for(kEarlyFlushInterval * 2); })] {
         refuse();
         slow();
       },
       {""}},
  };
  // Root's copies keep their owner; a disk that fails to is no refusal.
  if (geteuid() == 0)
    scenarios.push_back(
        {[&,
          arm = on(Kind::kRead, "c.txt", fail(Kind::kSetOwner, 1, EIO, temp))] {
           EXPECT_EQ(lchown(Src("sub/c.txt").c_str(), 4242, 4243), 0);
           arm();
         },
         {"sub/c.txt"}});
  int number = 0;
  for (const auto& [arm, failed] : scenarios) {
    SCOPED_TRACE(++number);
    if (number % 2 != GetParam()) continue;
    UseCase("scenario" + std::to_string(number));
    const Files before = MakeTreeAndEarlierBackup();
    faults.chunk_limit = 256 * 1024;
    arm();
    Go();
    ExpectFailures(failed);
    ExpectBackup(before, false);
    ExpectRepaired(before);
  }
}

INSTANTIATE_TEST_SUITE_P(Halves, FaultScenarios, ::testing::Values(0, 1));

TEST_F(ScenarioTest, EachFileFailsWithItsOwnReasonOrItsFoldersReason) {
  const struct {
    Kind kind;
    int error;
    std::string name;
    int reason;  ///< what each file of "fresh" reports
  } cases[] = {
      {Kind::kMkdir, EROFS, "fresh", EROFS},
      {Kind::kMkdir, EACCES, "deep", EACCES},
      // Made, and then it cannot be opened.
      {Kind::kOpen, EMFILE, "fresh", EMFILE},
      // Cut short while the kernel copies it: it changed.
      {Kind::kNone, 0, "", kErrorSourceChanged},
  };
  int number = 0;
  std::map<std::string, int> reads;  // by file
  for (const auto& c : cases) {
    SCOPED_TRACE(++number);
    UseCase("reason" + std::to_string(number));
    WriteSrc("fresh/deep/f.txt", std::string(60000, 'f'));
    WriteSrc("fresh/deep/g.txt", std::string(60000, 'g'));
    faults.chunk_limit = 16384;
    if (c.kind == Kind::kNone) {
      // Small and left alone: copied under no lease, which the truncation
      // would break.
      faults.status_age_s = 60;
      faults.before_call = [&](Kind call, const std::string& name) {
        if (call != Kind::kRead || !name.ends_with(".txt")) return;
        std::filesystem::resize_file(Src("fresh/deep/" + name), 1000);
        // A copy that keeps asking for what is gone is ended, as failed.
        if (++reads[name] == 100) faults.FailNth(Kind::kRead, 1, EIO);
      };
    } else if (c.kind == Kind::kOpen) {
      faults.before_call = [&](Kind call, const std::string& name) {
        if (call != Kind::kMkdir || name != "fresh") return;
        faults.before_call = nullptr;
        faults.FailNth(Kind::kOpen, 1, c.error, "fresh");
      };
    } else {
      faults.FailNth(c.kind, 0, c.error, c.name);
    }
    Go();
    ExpectFailures({"fresh/deep/f.txt", "fresh/deep/g.txt"});
    ASSERT_EQ(window.failures.size(), 2u);
    for (const Failure& failure : window.failures)
      EXPECT_EQ(failure.error, c.reason) << ErrorText(failure.error);
    faults.Heal();
  }
}

TEST_F(ScenarioTest, KilledInTheMiddleOfACopyThenRunAgain) {
  const Files before = MakeTreeAndEarlierBackup(16 << 20);
  // An unfinished copy of at least `bytes` is in the destination.
  auto copying = [&](uintmax_t bytes = 0) {
    std::error_code e;
    for (const std::string& name : testing::Entries(Dst()))
      if (IsTempName(name) &&
          (bytes == 0 || std::filesystem::file_size(Dst(name), e) >= bytes))
        return true;
    return false;
  };
  // Killed in the middle of the big file's copy, until one is left behind.
  // A small file's copy is too short: it is often renamed into place before
  // the kill arrives, and even the big one is missed in about half the
  // runs. A run that never gets going is killed too, so the test cannot
  // hang.
  for (int attempt = 0; attempt < 20 && !copying(); ++attempt) {
    testing::ChildProcess child(cli, {Src(""), Dst()});
    const auto give_up =
        std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!copying(1 << 20) &&
           child.WaitExit(testing::ChildProcess::Seconds(0)) == -1 &&
           std::chrono::steady_clock::now() < give_up) {
    }
  }
  ASSERT_TRUE(copying()) << "no run was killed in the middle of a copy";
  ExpectBackup(before, false,
               /*unfinished=*/static_cast<int>(DefaultCopies()));
  ExpectRepaired(before);  // which removes the unfinished copy
}

TEST_F(ScenarioTest, AFileSizeLimitFailsTheBigFileNotTheRun) {
  WriteSrc("small.txt", "small");
  WriteSrc("big.bin", Pattern(2 << 20, 1));
  // 1 MiB in blocks of 512 bytes, SIGXFSZ as the shell leaves it.
  testing::ChildProcess child(
      "/bin/sh",
      {"-c", "ulimit -f 2048; exec \"$0\" \"$@\"", cli, Src(""), Dst()});
  EXPECT_EQ(child.Finish(), 1) << "153: killed by SIGXFSZ";
  List3() = testing::SplitLines(child.out());
  ExpectFailures({"big.bin"});
  EXPECT_EQ(TakeFiles(Dst("")).size(), 1u);
  ExpectRepaired({});
}

// Another run at the same time, into the same destination or another.
TEST_F(ScenarioTest, ASecondRunIntoTheDestinationIsRefusedAndTheFirstGoesOn) {
  const Files before = MakeTreeAndEarlierBackup();
  std::string second;
  int second_status = -1;
  faults.chunk_limit = 256 * 1024;
  int reads = 0;
  faults.before_call = [&](Kind kind, const std::string& name) {
    if (kind != Kind::kRead || name != "big.bin" || ++reads != 2) return;
    // The first run has an unfinished copy in the destination now.
    testing::ChildProcess child(cli, {"--incremental", Src(""), Dst()});
    second_status = child.Finish();
    second = child.out();
  };
  Go(true);
  ExpectFailures({});
  ExpectBackup(before, true);
  EXPECT_EQ(second_status, 2);
  EXPECT_NE(second.find(std::string("\n") + kDestinationInUse + "\n"),
            std::string::npos)
      << second;
  EXPECT_NE(second.find("Finished....in :"), std::string::npos) << second;
}

TEST_F(ScenarioTest, ARunStartingDuringAnotherKeepsItsCopyLogLines) {
  WriteSrc("bad", "root files come first");
  WriteSrc("sub/trigger", "t");
  faults.FailNth(Kind::kRename, 0, EIO, "bad");
  int second_status = -1;
  faults.before_call = [&](Kind kind, const std::string& name) {
    if (kind != Kind::kOpen || name != "trigger") return;
    faults.before_call = nullptr;
    // Another run, into another destination, with the same program folder.
    second_status =
        testing::ChildProcess(cli, {Src(""), tree.Path("other")}).Finish();
  };
  Go();
  EXPECT_EQ(second_status, 0);
  EXPECT_EQ(ReadFile(tree.Path("other/sub/trigger")), "t");
  ExpectFailures({"bad"});
}

TEST_F(ScenarioTest, ANewDestinationMadeAndHeldByAnotherRunGetsNothing) {
  WriteSrc("a.txt", "a");
  WriteSrc("sub/b.txt", "b");
  int held = -1;
  faults.before_call = [&](Kind kind, const std::string&) {
    if (kind != Kind::kMkdir || held >= 0) return;
    // Another run makes the destination first, and holds it.
    ASSERT_EQ(mkdir(Dst("").c_str(), 0755), 0);
    held = open(Dst("").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  };
  Go();
  EXPECT_EQ(run->LastOutcome().refusal, RunRefusal::kDestinationInUse);
  ASSERT_GE(List3().size(), 2u);
  EXPECT_EQ(List3().end()[-2], kDestinationInUse);
  EXPECT_TRUE(TakeFiles(Dst("")).empty());
  close(held);
  ExpectRepaired({});
}

}  // namespace
}  // namespace ferrybox
