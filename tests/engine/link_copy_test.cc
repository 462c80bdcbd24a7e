// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/link_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/run_fixture.h"

namespace ferrybox {
namespace {

std::string Target(const std::string& path) {
  std::error_code error;
  return std::filesystem::read_symlink(path, error).string();
}

using LinkTest = RunFixture;

TEST_F(LinkTest, EveryLinkBelowTheRootIsCopiedAsALinkAndCountsAsAFile) {
  tree.Write("src/f.txt", "file");
  tree.Write("src/sub/inside", std::string(100000, 'i'));
  const std::string long_target(3000, 'x');  // 3 units of 1000 bytes
  const std::pair<std::string, std::string> links[] = {
      {"to_file", "f.txt"},
      {"to_folder", "sub"},
      {"sub/up", ".."},
      {"dangling", long_target},
      {"away", "/etc/hostname"}};
  for (const auto& [link, target] : links)
    ASSERT_EQ(symlink(target.c_str(), Src(link).c_str()), 0);
  // A link keeps its times and, copied by root, its owner.
  const struct timespec times[2] = {{1'500'000'000, 5}, {1'600'000'000, 7}};
  ASSERT_EQ(
      utimensat(AT_FDCWD, Src("to_file").c_str(), times, AT_SYMLINK_NOFOLLOW),
      0);
  const bool root = geteuid() == 0;
  ASSERT_EQ(root ? lchown(Src("to_file").c_str(), 4242, 4243) : 0, 0);
  // The roots themselves are followed.
  ASSERT_EQ(symlink(Src("").c_str(), tree.Path("src-link").c_str()), 0);
  tree.MakeFolder("real-dst");
  ASSERT_EQ(symlink(tree.Path("real-dst").c_str(), Dst().c_str()), 0);
  window.text1 = tree.Path("src-link");
  // Each reading of the clock 1/1024000 s after the one before: Text6 shows
  // the bytes handled.
  UsePlatform(DefaultPlatform(),
              {.clock = [now = 0.0]() mutable { return now += 1 / 1024e3; }});
  Go();
  EXPECT_EQ(Count(List3(), "Error"), 0);
  EXPECT_EQ(Figure(FigureBox::kText3), "7");  // nothing counted twice
  EXPECT_EQ(Figure(FigureBox::kText4), "7");
  // Links count by their text's length (the rate reads the bytes handled).
  EXPECT_EQ(Figure(FigureBox::kText6),
            std::to_string(4 + 100000 + 5 + 3 + 2 + 3000 + 13) + "Mb per Sec");
  EXPECT_TRUE(std::filesystem::is_symlink(Dst()));
  for (const auto& [link, target] : links) {
    SCOPED_TRACE(link);
    EXPECT_EQ(Count(List2(), "New File, Copying: " + Dst(link)), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(tree.Path("real-dst/" + link)));
    EXPECT_EQ(Target(Dst(link)), target);
  }
  struct stat st;
  ASSERT_EQ(lstat(Dst("to_file").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1'600'000'000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 7);
  EXPECT_EQ(st.st_uid, root ? 4242u : geteuid());
  EXPECT_EQ(st.st_gid, root ? 4243u : getegid());
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
}

TEST_F(LinkTest, IncrementalRunsCompareTheTargetTextAndReplaceEitherKind) {
  const char* changed[] = {"retargeted", "longer", "now_file", "now_link"};
  for (const char* name : {"retargeted", "longer", "now_file", "same"})
    ASSERT_EQ(symlink("old", Src(name).c_str()), 0);
  tree.Write("src/now_link", "a file first");
  Go();
  for (const char* name : changed) std::filesystem::remove(Src(name));
  ASSERT_EQ(symlink("new", Src("retargeted").c_str()), 0);
  ASSERT_EQ(symlink("newer", Src("longer").c_str()), 0);
  tree.Write("src/now_file", "a file now");
  ASSERT_EQ(symlink("now a link", Src("now_link").c_str()), 0);
  // Only the target text decides: a newer time is no change.
  const struct timespec times[2] = {{0, UTIME_OMIT}, {2'000'000'000, 0}};
  ASSERT_EQ(
      utimensat(AT_FDCWD, Src("same").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  // A link a killed run left under a temporary name goes.
  const std::string left = Dst(".~ferrybox-0123456789abcdef-7.part");
  ASSERT_EQ(symlink("old", left.c_str()), 0);
  Go(true);
  EXPECT_FALSE(testing::Exists(left));
  EXPECT_EQ(Count(List3(), "Error"), 0);
  EXPECT_EQ(Figure(FigureBox::kText4), "4");
  for (const char* name : changed)
    EXPECT_EQ(Count(List2(), "Different File, Updating=" + Dst(name)), 1)
        << name;
  EXPECT_EQ(Target(Dst("retargeted")), "new");
  EXPECT_EQ(Target(Dst("longer")), "newer");
  EXPECT_EQ(testing::ReadFile(Dst("now_file")), "a file now");
  EXPECT_EQ(Target(Dst("now_link")), "now a link");
  EXPECT_EQ(Target(Dst("same")), "old");
}

}  // namespace
}  // namespace ferrybox
