// SPDX-License-Identifier: GPL-3.0-or-later
// Two runs into one destination at the same time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "tests/reliability/scenario_fixture.h"
#include "tests/support/child_process.h"

namespace ferrybox {
namespace {

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
