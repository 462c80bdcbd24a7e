#include "engine/file_copy.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "engine/scoped_handle.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::Exists;
using testing::FaultyPlatform;
using testing::MtimeNs;
using testing::ReadFile;
using testing::TempTree;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  while (dirent* entry = dir ? readdir(dir) : nullptr) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (dir) closedir(dir);
  return names;
}

class CopyFileAtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.MakeFolder("src");
    tree_.MakeFolder("dst");
  }

  // Copies src/`name` to dst/`name` through `platform`; `meanwhile` runs
  // between reading the source's status and the copy.
  int Copy(Platform& platform, const std::string& name,
           CopyResult* result = nullptr,
           const std::function<void()>& meanwhile = nullptr) {
    ScopedHandle src(platform), dst(platform);
    EXPECT_EQ(platform.Open(kWorkingFolder, tree_.Path("src"),
                            OpenMode::kFolder, src.out()),
              0);
    EXPECT_EQ(platform.Open(kWorkingFolder, tree_.Path("dst"),
                            OpenMode::kFolder, dst.out()),
              0);
    FileInfo info;
    int error = platform.Stat(src.get(), name, true, &info);
    if (error != 0) return error;
    if (meanwhile) meanwhile();
    CopyResult ignored;
    return CopyFileAt(platform, src.get(), name, info, dst.get(), name,
                      result ? result : &ignored);
  }

  TempTree tree_;
};

TEST_F(CopyFileAtTest, KeepsContentModeAndTimeToTheNanosecond) {
  std::string content(300 * 1024 + 7, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = char(i * 31);
  const std::string source = tree_.Write("src/data.bin", content);
  ASSERT_EQ(chmod(source.c_str(), 0751), 0);
  testing::SetMtimeNs(source, 1234567890123456789);

  CopyResult result;
  ASSERT_EQ(Copy(DefaultPlatform(), "data.bin", &result), 0);
  const std::string copy = tree_.Path("dst/data.bin");
  EXPECT_EQ(ReadFile(copy), content);
  EXPECT_EQ(testing::Mode(copy), 0751u);
  EXPECT_EQ(MtimeNs(copy), 1234567890123456789);
  EXPECT_EQ(result.stored_mtime_ns, 1234567890123456789);
  EXPECT_EQ(result.bytes, static_cast<int64_t>(content.size()));
  EXPECT_EQ(Names(tree_.Path("dst")), std::vector<std::string>{"data.bin"});
}

TEST_F(CopyFileAtTest, ReplacesAnEarlierCopyAndCopiesEmptyFiles) {
  tree_.Write("src/a", "new content");
  tree_.Write("dst/a", "old");
  tree_.Write("src/empty", "");
  ASSERT_EQ(Copy(DefaultPlatform(), "a"), 0);
  ASSERT_EQ(Copy(DefaultPlatform(), "empty"), 0);
  EXPECT_EQ(ReadFile(tree_.Path("dst/a")), "new content");
  EXPECT_TRUE(Exists(tree_.Path("dst/empty")));
  EXPECT_EQ(ReadFile(tree_.Path("dst/empty")), "");
}

TEST_F(CopyFileAtTest, AnyFailureLeavesTheEarlierCopyAndNoTemporaryFile) {
  tree_.Write("src/a", std::string(100000, 'n'));
  tree_.Write("dst/a", "earlier copy");
  const std::pair<FaultyPlatform::Kind, int> faults[] = {
      {FaultyPlatform::Kind::kWrite, ENOSPC},
      {FaultyPlatform::Kind::kSetTimes, EPERM},
      {FaultyPlatform::Kind::kRename, EIO},
  };
  for (const auto& [kind, error] : faults) {
    FaultyPlatform platform;
    platform.fail_kind = kind;
    platform.fail_error = error;
    EXPECT_EQ(Copy(platform, "a"), error);
    EXPECT_EQ(platform.failures, 1);
    EXPECT_EQ(ReadFile(tree_.Path("dst/a")), "earlier copy");
    EXPECT_EQ(Names(tree_.Path("dst")), std::vector<std::string>{"a"});
    EXPECT_EQ(platform.open_handles(), 0u);
  }
}

TEST_F(CopyFileAtTest, FallsBackToReadAndWriteWhenTheKernelCannotCopy) {
  std::string content(700 * 1024, 'q');
  content[12345] = 'x';
  tree_.Write("src/a", content);
  // As between two file systems that cannot share a kernel copy.
  class NoKernelCopy : public FaultyPlatform {
   public:
    int CopyRange(Handle, Handle, int64_t, int64_t*) override { return EXDEV; }
  } no_kernel_copy;
  tree_.Write("dst/a", "old");
  ASSERT_EQ(Copy(no_kernel_copy, "a"), 0);
  EXPECT_EQ(ReadFile(tree_.Path("dst/a")), content);
}

TEST_F(CopyFileAtTest, ASourceChangedUnderfootFailsWithoutDamage) {
  tree_.Write("src/a", "0123456789");
  tree_.Write("dst/a", "earlier");
  // Shorter than its status said.
  EXPECT_NE(Copy(DefaultPlatform(), "a", nullptr,
                 [&] { tree_.Write("src/a", "0123"); }),
            0);
  EXPECT_EQ(ReadFile(tree_.Path("dst/a")), "earlier");
  // A FIFO put in its place fails instead of blocking the run.
  EXPECT_NE(Copy(DefaultPlatform(), "a", nullptr,
                 [&] {
                   unlink(tree_.Path("src/a").c_str());
                   mkfifo(tree_.Path("src/a").c_str(), 0644);
                 }),
            0);
  EXPECT_EQ(ReadFile(tree_.Path("dst/a")), "earlier");
  EXPECT_EQ(Names(tree_.Path("dst")), std::vector<std::string>{"a"});
}

TEST_F(CopyFileAtTest, LongAndOddNamesCopyLikeAnyOther) {
  for (const std::string& name :
       {std::string(255, 'z'), std::string("-dash"), std::string("new\nline"),
        std::string("\xc3\x28 bad utf-8")}) {
    tree_.Write("src/" + name, name);
    ASSERT_EQ(Copy(DefaultPlatform(), name), 0) << name;
    EXPECT_EQ(ReadFile(tree_.Path("dst/" + name)), name);
  }
}

}  // namespace
}  // namespace ferrybox
