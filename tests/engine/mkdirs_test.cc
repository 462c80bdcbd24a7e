#include "engine/mkdirs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::Exists;
using testing::FaultyPlatform;
using testing::TempTree;

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(MkDirsTest, CreatesEveryMissingLevelTopDown) {
  TempTree tree;
  tree.MakeFolder("bk");
  EXPECT_TRUE(MkDirs(DefaultPlatform(), tree.Path("bk/a/b")));
  EXPECT_TRUE(IsFolder(tree.Path("bk/a")));
  EXPECT_TRUE(IsFolder(tree.Path("bk/a/b")));
  // Existing levels and a trailing separator are fine.
  EXPECT_TRUE(MkDirs(DefaultPlatform(), tree.Path("bk/a/b/")));
  EXPECT_TRUE(MkDirs(DefaultPlatform(), "/"));
}

TEST(MkDirsTest, StopsAtTheFirstLevelThatCannotBeMade) {
  TempTree tree;
  tree.Write("bk/file", "x");
  EXPECT_FALSE(MkDirs(DefaultPlatform(), tree.Path("bk/file/a/b")));
  EXPECT_FALSE(Exists(tree.Path("bk/file/a")));

  FaultyPlatform platform;
  platform.fail_kind = FaultyPlatform::Kind::kMkdir;
  platform.fail_name = "middle";
  platform.fail_error = ENOSPC;
  EXPECT_FALSE(MkDirs(platform, tree.Path("bk/top/middle/bottom")));
  EXPECT_TRUE(IsFolder(tree.Path("bk/top")));
  EXPECT_FALSE(Exists(tree.Path("bk/top/middle")));
  EXPECT_EQ(platform.failures, 1);
  EXPECT_EQ(platform.open_handles(), 0u);
}

TEST(MkDirsTest, FollowsALinkTheUserNamed) {
  TempTree tree;
  tree.MakeFolder("real");
  ASSERT_EQ(symlink("real", tree.Path("alias").c_str()), 0);
  EXPECT_TRUE(MkDirs(DefaultPlatform(), tree.Path("alias/profiles")));
  EXPECT_TRUE(IsFolder(tree.Path("real/profiles")));
}

}  // namespace
}  // namespace ferrybox
