// A backup tree that someone has tampered with must never make the run
// write outside it, and the run's own unfinished copies must never be
// readable by others or take the place of anything.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/reliability/scenario_fixture.h"

namespace ferrybox {
namespace {

using Kind = FaultyPlatform::Kind;
using testing::Exists;
using testing::ReadFile;

using DestinationSafety = ScenarioTest;

TEST_F(DestinationSafety, LinksPlantedInTheBackupNeverRedirectAWrite) {
  for (const bool incremental : {false, true}) {
    SCOPED_TRACE(incremental ? "incremental" : "full");
    UseCase(incremental ? "incremental" : "full");
    MakeTreeAndEarlierBackup();
    const std::string outside = tree.Path("outside");
    std::filesystem::remove_all(outside);
    for (const char* name :
         {"a.txt", "b.txt", "c.txt", "e.txt", "deeper/d.txt", "deep/f.txt"})
      tree.Write(std::string("outside/") + name, "outside");
    tree.Write("outside/shared", "outside, shared");
    const Snapshot outside_before = TakeSnapshot(outside);

    // A file and a folder of the backup become links to the outside; a
    // folder the run must create is already a link; a copy shares its
    // data with an outside file.
    ASSERT_EQ(unlink(Dst("a.txt").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/a.txt").c_str(), Dst("a.txt").c_str()), 0);
    std::filesystem::remove_all(Dst("sub"));
    ASSERT_EQ(symlink(outside.c_str(), Dst("sub").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), Dst("fresh").c_str()), 0);
    ASSERT_EQ(unlink(Dst("big.bin").c_str()), 0);
    ASSERT_EQ(link((outside + "/shared").c_str(), Dst("big.bin").c_str()), 0);
    const Snapshot before = TakeSnapshot(Dst(""));

    Go(incremental);
    ExpectClosingLine();
    EXPECT_EQ(TakeSnapshot(outside), outside_before);
    ExpectFailures({"a.txt", "sub/b.txt", "sub/c.txt", "sub/e.txt",
                    "sub/deeper/d.txt", "fresh/deep/f.txt"});
    ExpectNoDamage(before);

    // Once the links are gone, the backup is made whole.
    for (const char* planted : {"a.txt", "sub", "fresh"})
      ASSERT_EQ(unlink(Dst(planted).c_str()), 0);
    ExpectIncrementalRunCompletes();
    EXPECT_EQ(TakeSnapshot(outside), outside_before);
  }
}

TEST_F(DestinationSafety, ALinkPlantedWhileTheRunIsUnderWayIsReplaced) {
  MakeTreeAndEarlierBackup();
  tree.Write("outside/a.txt", "outside");
  // After the run has listed the folder, just before it copies a.txt.
  faults.before_call = [&](Kind kind, const std::string& name) {
    if (kind != Kind::kOpen || name != "a.txt") return;
    ASSERT_EQ(unlink(Dst("a.txt").c_str()), 0);
    ASSERT_EQ(symlink(tree.Path("outside/a.txt").c_str(), Dst("a.txt").c_str()),
              0);
  };
  Go();
  ExpectClosingLine();
  ExpectFailures({});
  EXPECT_EQ(ReadFile(tree.Path("outside/a.txt")), "outside");
  ExpectComplete();
}

TEST_F(DestinationSafety, SpecialFilesPlantedInTheBackupNeverHangARun) {
  for (const bool incremental : {false, true}) {
    SCOPED_TRACE(incremental ? "incremental" : "full");
    UseCase(incremental ? "incremental" : "full");
    MakeTreeAndEarlierBackup();
    ASSERT_EQ(unlink(Dst("a.txt").c_str()), 0);
    ASSERT_EQ(mkfifo(Dst("a.txt").c_str(), 0644), 0);
    std::filesystem::remove_all(Dst("sub"));
    ASSERT_EQ(mkfifo(Dst("sub").c_str(), 0644), 0);
    const Snapshot before = TakeSnapshot(Dst(""));
    Go(incremental);
    ExpectClosingLine();
    // A FIFO where a file belongs is replaced by the file; one where a
    // folder belongs is in the way.
    ExpectFailures({"sub/b.txt", "sub/c.txt", "sub/e.txt", "sub/deeper/d.txt"});
    ExpectNoDamage(before);
    EXPECT_EQ(ReadFile(Dst("a.txt")), "alpha, second edition");
    ASSERT_EQ(unlink(Dst("sub").c_str()), 0);
    ExpectIncrementalRunCompletes();
  }
}

TEST_F(DestinationSafety, UnfinishedCopiesAreOwnerOnlyAndNeverTakeAName) {
  WriteSrc("only.txt", "the content");
  ASSERT_EQ(chmod(Src("only.txt").c_str(), 0644), 0);
  tree.MakeFolder("case/dst");
  tree.Write("outside/victim", "victim");
  // The first two names the run picks for its copy are taken just before
  // it creates the file: by a link to the outside, then by a file.
  std::vector<std::string> taken;
  std::vector<unsigned> modes_when_complete;
  faults.before_call = [&](Kind kind, const std::string& name) {
    if (kind == Kind::kOpen && IsTempName(name) && taken.size() < 2) {
      taken.push_back(name);
      if (taken.size() == 1) {
        ASSERT_EQ(
            symlink(tree.Path("outside/victim").c_str(), Dst(name).c_str()), 0);
      } else {
        tree.Write("case/dst/" + name, "someone else's");
      }
    }
    if (kind == Kind::kSetTimes) {
      EXPECT_TRUE(IsTempName(name));
      modes_when_complete.push_back(testing::Mode(Dst(name)));
    }
  };
  Go();
  ExpectClosingLine();
  ExpectFailures({});
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(ReadFile(tree.Path("outside/victim")), "victim");
  EXPECT_EQ(ReadFile(Dst(taken[1])), "someone else's");
  EXPECT_EQ(modes_when_complete, std::vector<unsigned>{0600});
  EXPECT_EQ(ReadFile(Dst("only.txt")), "the content");
  EXPECT_EQ(testing::Mode(Dst("only.txt")), 0644u);
}

TEST_F(DestinationSafety, SetIdBitsNeverPassToACopyWithAnotherOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  constexpr uid_t kSomeoneElse = 4242;
  WriteSrc("theirs", "#!/bin/sh\n");
  WriteSrc("their_group", "#!/bin/sh\n");
  WriteSrc("ours", "#!/bin/sh\n");
  ASSERT_EQ(chown(Src("theirs").c_str(), kSomeoneElse, getegid()), 0);
  ASSERT_EQ(chown(Src("their_group").c_str(), geteuid(), kSomeoneElse), 0);
  ASSERT_EQ(chmod(Src("theirs").c_str(), 04755), 0);
  ASSERT_EQ(chmod(Src("their_group").c_str(), 02755), 0);
  ASSERT_EQ(chmod(Src("ours").c_str(), 06755), 0);
  Go();
  ExpectClosingLine();
  ExpectFailures({});
  // The copies belong to whoever runs the backup: a set-user-id bit on
  // someone else's program would hand that user the runner's rights.
  EXPECT_EQ(testing::Mode(Dst("theirs")), 0755u);
  EXPECT_EQ(testing::Mode(Dst("their_group")), 0755u);
  EXPECT_EQ(testing::Mode(Dst("ours")), 06755u);
}

}  // namespace
}  // namespace ferrybox
