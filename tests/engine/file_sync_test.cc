#include "engine/file_sync.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/engine/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::CaseFoldingPlatform;
using testing::Exists;
using testing::FaultyPlatform;
using testing::MtimeNs;
using testing::ReadFile;
using testing::SetMtimeNs;

using SyncPaths = RunFixture;
using SyncFullMode = RunFixture;
using SyncIncremental = RunFixture;
using SyncFailures = RunFixture;
using SyncDestinationSafety = RunFixture;

int Count(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<int>(std::count_if(
      lines.begin(), lines.end(),
      [&](const std::string& line) { return line.starts_with(prefix); }));
}

TEST_F(SyncPaths, CheckCreateAndCopyLinesComeInOrderPerFolder) {
  tree.Write("src/a.txt", "a");
  tree.Write("src/sub/b.txt", "b");
  tree.Write("src/sub/deep/c.txt", "c");
  Go();
  EXPECT_EQ(List2(), (std::vector<std::string>{
                         "checking directory exists=" + Dst(),
                         "Creating Folder: " + Dst(),
                         "New File, Copying: " + Dst("a.txt"),
                         "checking directory exists=" + Dst("sub"),
                         "Creating Folder: " + Dst("sub"),
                         "New File, Copying: " + Dst("sub/b.txt"),
                         "checking directory exists=" + Dst("sub/deep"),
                         "Creating Folder: " + Dst("sub/deep"),
                         "New File, Copying: " + Dst("sub/deep/c.txt"),
                     }));
  EXPECT_EQ(ReadFile(Dst("sub/deep/c.txt")), "c");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SyncPaths, TrailingSeparatorsOnEitherRootJoinWithOne) {
  tree.Write("src/a.txt", "a");
  tree.Write("src/sub/b.txt", "b");
  tree.MakeFolder("dst");
  window.text1 = Src("");  // ends in a separator
  window.text2 = Dst() + "//";
  Go();
  EXPECT_EQ(Count(List2(), "New File, Copying: " + Dst("a.txt")), 1);
  EXPECT_EQ(Count(List2(), "New File, Copying: " + Dst("sub/b.txt")), 1);
  EXPECT_EQ(List2().front(), "checking directory exists=" + Dst());
  EXPECT_EQ(Count(List2(), "Creating Folder: "), 1);  // only sub
  EXPECT_EQ(ReadFile(Dst("sub/b.txt")), "b");
}

TEST_F(SyncPaths, AFolderIsCheckedOnceAndASiblingWithALongerNameToo) {
  // "dst/a" is part of "dst/a7" without being its ancestor. Listing order
  // decides which sibling comes first; with twenty longer names some come
  // before "a".
  tree.Write("src/a/1", "x");
  tree.Write("src/a/2", "x");
  for (int i = 0; i < 20; ++i)
    tree.Write("src/a" + std::to_string(i) + "/f", "x");
  Go();
  auto exact = [&](const std::string& line) {
    return std::count(List2().begin(), List2().end(), line);
  };
  EXPECT_EQ(exact("checking directory exists=" + Dst("a")), 1);
  EXPECT_EQ(exact("Creating Folder: " + Dst("a")), 1);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(exact("Creating Folder: " + Dst("a" + std::to_string(i))), 1);
  EXPECT_EQ(ReadFile(Dst("a/2")), "x");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SyncPaths, EachRunChecksAgainSoADeletedBackupIsRebuilt) {
  tree.Write("src/sub/a", "x");
  Go();
  std::filesystem::remove_all(Dst());
  Go();
  EXPECT_EQ(Count(List2(), "Creating Folder: " + Dst("sub")), 1);
  EXPECT_EQ(ReadFile(Dst("sub/a")), "x");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SyncFullMode, CopiesAndReportsEveryFileEvenWhenUnchanged) {
  tree.Write("src/a", "1");
  tree.Write("src/b", "2");
  tree.Write("src/c/d", "3");
  Go();
  Go();
  EXPECT_EQ(Count(List2(), "New File, Copying: "), 3);
  EXPECT_EQ(Figure(FigureBox::kText4), "3");
  EXPECT_EQ(run->FilesCopied(), 3);
}

TEST_F(SyncIncremental, AnIdenticalCopyIsSkippedSilently) {
  tree.Write("src/a", "same");
  tree.Write("src/sub/b", "same too");
  Go();
  Go(true);
  EXPECT_EQ(List2(), (std::vector<std::string>{
                         "checking directory exists=" + Dst(),
                         "checking directory exists=" + Dst("sub")}));
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
  EXPECT_EQ(Figure(FigureBox::kText3), "2");
}

TEST_F(SyncIncremental, UpdatesOnLengthOrTimeInEitherDirection) {
  for (const char* name : {"length", "newer", "older", "same"})
    tree.Write(std::string("src/") + name, "content");
  Go();
  tree.Write("dst/length", "content, longer");
  SetMtimeNs(Dst("length"), MtimeNs(Src("length")));
  SetMtimeNs(Dst("newer"), MtimeNs(Src("newer")) + 1);
  SetMtimeNs(Dst("older"), MtimeNs(Src("older")) - 1);
  tree.Write("src/added", "new");

  Go(true);
  for (const char* name : {"length", "newer", "older"}) {
    EXPECT_EQ(Count(List2(), "Different File, Updating=" + Dst(name)), 1)
        << name;
    EXPECT_EQ(ReadFile(Dst(name)), "content");
    EXPECT_EQ(MtimeNs(Dst(name)), MtimeNs(Src(name)));
  }
  EXPECT_EQ(Count(List2(), "New File, Copying: " + Dst("added")), 1);
  EXPECT_EQ(Count(List2(), "Different File, Updating=" + Dst("same")), 0);
  EXPECT_EQ(Figure(FigureBox::kText4), "4");
}

TEST_F(SyncIncremental, ACopyKeepsContentModeAndTimeSoTheNextRunCopiesNothing) {
  const std::string a = tree.Write("src/a.sh", "#!/bin/sh\n");
  ASSERT_EQ(chmod(a.c_str(), 0700), 0);
  SetMtimeNs(a, 1600000000123456789);
  tree.Write("src/deep/er/b", std::string(200000, 'b'));
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "2");
  EXPECT_EQ(testing::Mode(Dst("a.sh")), 0700u);
  EXPECT_EQ(MtimeNs(Dst("a.sh")), 1600000000123456789);
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
  EXPECT_EQ(Count(List2(), "New File"), 0);
  EXPECT_EQ(Count(List2(), "Different File"), 0);
}

TEST_F(SyncIncremental, ANameDifferingOnlyInCaseIsUpdatedToTheSourceCase) {
  CaseFoldingPlatform platform;
  UsePlatform(platform);
  tree.Write("src/README.txt", "text");
  tree.Write("dst/readme.txt", "text");
  SetMtimeNs(Dst("readme.txt"), MtimeNs(Src("README.txt")));
  Go(true);
  EXPECT_EQ(Count(List2(), "Different File, Updating=" + Dst("README.txt")), 1);
  EXPECT_TRUE(Exists(Dst("README.txt")));
  EXPECT_FALSE(Exists(Dst("readme.txt")));
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
}

TEST_F(SyncIncremental, SameFileComparesLengthTimeAndStoredName) {
  FileLookup source{true, FileInfo{}, "a.txt"};
  source.info.type = EntryType::kFile;
  source.info.size = 10;
  source.info.mtime_ns = 5;
  FileLookup destination = source;
  EXPECT_TRUE(SameFile(source, destination));
  destination.stored_name = "A.txt";
  EXPECT_FALSE(SameFile(source, destination));
  destination.stored_name.clear();  // could not be learned
  EXPECT_FALSE(SameFile(source, destination));
  destination = source;
  destination.info.type = EntryType::kLink;
  EXPECT_FALSE(SameFile(source, destination));
  destination = source;
  destination.found = false;
  EXPECT_FALSE(SameFile(source, destination));

  // At a destination's coarse step only the time is compared loosely.
  const int64_t fat_step = 2'000'000'000;
  destination = source;
  destination.info.mtime_ns = source.info.mtime_ns + fat_step - 1;
  EXPECT_FALSE(SameFile(source, destination));
  EXPECT_TRUE(SameFile(source, destination, fat_step));
  destination.info.size = 11;
  EXPECT_FALSE(SameFile(source, destination, fat_step));
  destination = source;
  destination.stored_name = "A.txt";
  EXPECT_FALSE(SameFile(source, destination, fat_step));
}

TEST_F(SyncFailures, AnUnreadableSourceIsReportedAndTheEarlierCopySurvives) {
  tree.Write("src/secret", "new secret");
  tree.Write("src/plain", "plain");
  tree.Write("dst/secret", "earlier secret");
  FaultyPlatform platform;
  platform.fail_kind = FaultyPlatform::Kind::kOpen;
  platform.fail_name = "secret";
  platform.fail_error = EACCES;
  UsePlatform(platform);
  Go();
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"Error copying file: " + Dst("secret")});
  EXPECT_EQ(CopyLog(), "Error copying file: " + Dst("secret") + "\r\n");
  EXPECT_EQ(ReadFile(Dst("secret")), "earlier secret");
  EXPECT_EQ(ReadFile(Dst("plain")), "plain");
  EXPECT_EQ(Figure(FigureBox::kText4), "2");  // a failed copy still counts
  EXPECT_EQ(run->LastOutcome().failed_copies, 1);
  EXPECT_EQ(platform.open_handles(), 0u);
}

TEST_F(SyncFailures, AFileWhereAFolderShouldBeFailsItsFilesOnly) {
  tree.Write("src/sub/a", "x");
  tree.Write("src/sub/b", "x");
  tree.Write("src/ok/c", "x");
  tree.Write("dst/sub", "a file in the way");
  Go();
  EXPECT_EQ(Count(List2(), "checking directory exists=" + Dst("sub")), 1);
  EXPECT_EQ(Count(List2(), "Creating Folder: " + Dst("sub")), 0);
  EXPECT_EQ(Count(Messages(), "Error copying file: " + Dst("sub/")), 2);
  EXPECT_EQ(Messages().size(), 2u);
  EXPECT_EQ(ReadFile(Dst("sub")), "a file in the way");
  EXPECT_EQ(ReadFile(Dst("ok/c")), "x");
}

TEST_F(SyncFailures, ADestinationRootThatIsAFileFailsEveryFile) {
  tree.Write("src/a", "x");
  tree.Write("src/sub/b", "x");
  tree.Write("dst", "not a folder");
  Go();
  EXPECT_EQ(Messages(),
            (std::vector<std::string>{"Error copying file: " + Dst("a"),
                                      "Error copying file: " + Dst("sub/b")}));
  EXPECT_EQ(ReadFile(Dst()), "not a folder");
}

TEST_F(SyncFailures, SourceFilesGoneAfterTheScanAreReportedAndTheRunGoesOn) {
  for (int i = 0; i < 150; ++i) tree.Write("src/f" + std::to_string(i), "x");
  window.on_process_events = [&] {
    for (int i = 0; i < 150; ++i) unlink(Src("f" + std::to_string(i)).c_str());
  };
  Go();
  EXPECT_EQ(Figure(FigureBox::kText3), "150");
  EXPECT_EQ(Count(Messages(), "Error copying file: " + Dst("f")), 49);
  EXPECT_EQ(run->LastOutcome().failed_copies, 49);
}

TEST_F(SyncFailures, AnUnreadableSourceFolderIsReported) {
  tree.Write("src/a", "x");
  tree.Write("src/locked/b", "x");
  FaultyPlatform platform;
  platform.fail_kind = FaultyPlatform::Kind::kList;
  platform.fail_name = "locked";
  platform.fail_error = EACCES;
  UsePlatform(platform);
  Go();
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"Error copying file: " + Dst("locked")});
  EXPECT_EQ(ReadFile(Dst("a")), "x");
}

TEST_F(SyncDestinationSafety, ALinkChosenAsTheDestinationRootIsFollowed) {
  tree.Write("src/a", "x");
  tree.MakeFolder("real_backup");
  ASSERT_EQ(symlink(tree.Path("real_backup").c_str(), Dst().c_str()), 0);
  Go();
  EXPECT_EQ(ReadFile(tree.Path("real_backup/a")), "x");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SyncDestinationSafety, LeftoversOfAKilledRunAreRemoved) {
  tree.Write("src/sub/a", "x");
  tree.Write("dst/sub/.~ferrybox-00000000000000ab-7.part", "partial");
  tree.Write("dst/sub/keep.part", "a user's file");
  Go(true);
  EXPECT_FALSE(Exists(Dst("sub/.~ferrybox-00000000000000ab-7.part")));
  EXPECT_TRUE(Exists(Dst("sub/keep.part")));
  EXPECT_EQ(ReadFile(Dst("sub/a")), "x");
}

TEST_F(SyncDestinationSafety, ADestinationInsideTheSourceIsLeftOut) {
  tree.Write("src/a", "x");
  tree.Write("src/sub/b", "x");
  window.text2 = Src("backup");
  Go();
  Go();
  Go(true);
  EXPECT_EQ(ReadFile(Src("backup/a")), "x");
  EXPECT_EQ(ReadFile(Src("backup/sub/b")), "x");
  EXPECT_FALSE(Exists(Src("backup/backup")));
  EXPECT_EQ(Figure(FigureBox::kText3), "2");
}

}  // namespace
}  // namespace ferrybox
