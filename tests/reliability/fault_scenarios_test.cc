// Backup runs whose reads, writes, renames, folder creations, time settings,
// lookups and listings fail, each checked for the four things a failed run
// must leave true.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/reliability/scenario_fixture.h"

namespace ferrybox {
namespace {

using Kind = FaultyPlatform::Kind;
using testing::ReadFile;

using FaultScenario = ScenarioTest;

constexpr size_t kBig = 3 << 20;

TEST_F(FaultScenario, AReadFailingMidwayThroughALargeFile) {
  const Snapshot before = MakeTreeAndEarlierBackup(kBig);
  faults.chunk_limit = 256 * 1024;
  faults.FailNth(Kind::kRead, 6, EIO, "big.bin");  // of 12
  Go();
  EXPECT_EQ(faults.failures, 1);
  ExpectClosingLine();
  ExpectFailures({"big.bin"});
  ExpectNoDamage(before);
  EXPECT_TRUE(ReadFile(Dst("big.bin")) == Pattern(kBig, 1))
      << "big.bin is not its earlier copy";
  ExpectIncrementalRunCompletes();
}

TEST_F(FaultScenario, ADiskThatFillsUpMidwayThroughALargeFile) {
  const Snapshot before = MakeTreeAndEarlierBackup(kBig);
  faults.chunk_limit = 256 * 1024;
  FailCopyOf("big.bin", Kind::kWrite, 5, ENOSPC);
  Go();
  EXPECT_EQ(faults.failures, 1);
  ExpectClosingLine();
  ExpectFailures({"big.bin"});
  ExpectNoDamage(before);
  EXPECT_TRUE(ReadFile(Dst("big.bin")) == Pattern(kBig, 1))
      << "big.bin is not its earlier copy";
  ExpectIncrementalRunCompletes();
}

TEST_F(FaultScenario, ADiskThatStaysFullFailsEveryCopyThatNeedsSpace) {
  const Snapshot before = MakeTreeAndEarlierBackup(kBig);
  faults.FailNth(Kind::kWrite, 1, ENOSPC, "", /*times=*/0);
  Go();
  ExpectClosingLine();
  // A full backup copies every file; only the empty one needs no space.
  ExpectFailures({"a.txt", "big.bin", "link", "sub/b.txt", "sub/c.txt",
                  "sub/e.txt", "sub/deeper/d.txt", "fresh/deep/f.txt"});
  ExpectNoDamage(before);
  ExpectIncrementalRunCompletes();
}

TEST_F(FaultScenario, AWriteRefusedByTheKernelAsFileTooLarge) {
  const Snapshot before = MakeTreeAndEarlierBackup(kBig);
  // A child process under a 1 MiB file-size limit makes the run; the kernel
  // then fails the big file's copy with EFBIG.
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipe_fds[0]);
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {1 << 20, 1 << 20};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
    std::string lines;
    Go();
    for (const std::string& line : List3()) lines += line + "\n";
    const bool sent = write(pipe_fds[1], lines.data(), lines.size()) ==
                      static_cast<ssize_t>(lines.size());
    _exit(sent ? 0 : 4);
  }
  close(pipe_fds[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
    output.append(buffer, static_cast<size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status))
      << "the run died of signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot set RLIMIT_FSIZE";
  ASSERT_EQ(WEXITSTATUS(status), 0);

  List3().clear();
  for (size_t start = 0, end;
       (end = output.find('\n', start)) != std::string::npos; start = end + 1)
    List3().push_back(output.substr(start, end - start));
  ExpectClosingLine();
  ExpectFailures({"big.bin"});
  ExpectNoDamage(before);
  ExpectIncrementalRunCompletes();
}

TEST_F(FaultScenario, ARenameThatFails) {
  const Snapshot before = MakeTreeAndEarlierBackup(kBig);
  faults.FailNth(Kind::kRename, 1, EIO, "c.txt");
  Go();
  EXPECT_EQ(faults.failures, 1);
  ExpectClosingLine();
  ExpectFailures({"sub/c.txt"});
  ExpectNoDamage(before);
  EXPECT_EQ(ReadFile(Dst("sub/c.txt")), "gamma");
  ExpectIncrementalRunCompletes();
}

TEST_F(FaultScenario, AFolderThatCannotBeCreated) {
  const Snapshot before = MakeTreeAndEarlierBackup(kBig);
  faults.FailNth(Kind::kMkdir, 1, EACCES, "fresh");
  Go();
  EXPECT_EQ(faults.failures, 1);
  ExpectClosingLine();
  ExpectFailures({"fresh/deep/f.txt"});
  ExpectNoDamage(before);
  ExpectIncrementalRunCompletes();
}

TEST_F(FaultScenario, SettingTheTimesFailsSoTheCopyIsNeverTakenAsCurrent) {
  const Snapshot before = MakeTreeAndEarlierBackup(kBig);
  // c.txt and its earlier copy have the same length: only the time tells
  // an incremental run that the copy is out of date.
  FailCopyOf("c.txt", Kind::kSetTimes, 1, EPERM);
  Go(true);
  EXPECT_EQ(faults.failures, 1);
  ExpectClosingLine();
  ExpectFailures({"sub/c.txt"});
  ExpectNoDamage(before);
  ExpectIncrementalRunCompletes();
  EXPECT_EQ(ReadFile(Dst("sub/c.txt")), "GAMMA");
}

TEST_F(FaultScenario, ASourceFileChangedWhileBeingCopied) {
  const Snapshot before = MakeTreeAndEarlierBackup(kBig);
  faults.chunk_limit = 256 * 1024;
  // Someone rewrites part of the file in place while the run reads it: the
  // copy would mix two versions.
  int reads = 0;
  faults.before_call = [&](Kind kind, const std::string& name) {
    if (kind != Kind::kRead || name != "big.bin" || ++reads != 4) return;
    WriteSrc("big.bin", Pattern(kBig, 3));
  };
  Go();
  ExpectClosingLine();
  ExpectFailures({"big.bin"});
  ExpectNoDamage(before);
  EXPECT_TRUE(ReadFile(Dst("big.bin")) == Pattern(kBig, 1))
      << "big.bin is not its earlier copy";
  ExpectIncrementalRunCompletes();
}

// Every call of every kind that a run makes, failed in turn, one per run,
// on listings with and without entry types.
class FaultSweep : public ScenarioTest {
 protected:
  static constexpr size_t kSweepBig = 96 * 1024;
  static constexpr size_t kSweepChunk = 32 * 1024;

  void Sweep(bool incremental) {
    for (const bool hide_types : {false, true}) {
      for (const Kind kind : FaultyPlatform::kAllKinds) {
        // Each case in a folder of its own, none removed before the end:
        // ext4 is slow to create files just after many were deleted.
        UseCase("learn" + std::to_string(++cases_));
        faults.hide_entry_types = hide_types;
        faults.chunk_limit = kSweepChunk;
        MakeTreeAndEarlierBackup(kSweepBig);
        const int calls_before = faults.calls(kind);
        Go(incremental);
        const int calls = faults.calls(kind) - calls_before;
        EXPECT_GT(calls, 0) << FaultyPlatform::KindName(kind);

        for (int nth = 1; nth <= calls; ++nth) {
          SCOPED_TRACE(std::string(FaultyPlatform::KindName(kind)) + " call " +
                       std::to_string(nth) + " of " + std::to_string(calls) +
                       (incremental ? ", incremental" : ", full") +
                       (hide_types ? ", untyped listings" : ""));
          UseCase("sweep" + std::to_string(++cases_));
          const Snapshot before = MakeTreeAndEarlierBackup(kSweepBig);
          const int failures_before = faults.failures;
          faults.FailNth(kind, nth, EIO);
          Go(incremental);
          EXPECT_EQ(faults.failures - failures_before, 1);
          ExpectClosingLine();
          if (run->LastOutcome().refused) {
            // Nothing copied, and the refusal said so.
            EXPECT_EQ(TakeSnapshot(Dst("")), before);
            EXPECT_TRUE(Failures().empty());
          } else {
            ExpectEveryLossReported();
          }
          ExpectNoDamage(before);
          ExpectIncrementalRunCompletes();
          if (HasFailure()) return;
        }
      }
    }
  }

  int cases_ = 0;
};

TEST_F(FaultSweep, AnySingleFailedCallOfAFullRunIsReportedAndRepaired) {
  Sweep(/*incremental=*/false);
}

TEST_F(FaultSweep, AnySingleFailedCallOfAnIncrementalRunIsReportedAndRepaired) {
  Sweep(/*incremental=*/true);
}

}  // namespace
}  // namespace ferrybox
