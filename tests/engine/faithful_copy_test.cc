// SPDX-License-Identifier: GPL-3.0-or-later
// What a backup keeps: file content exactly, sparse files (disk images,
// databases) with their holes, also by reads and writes where the kernel
// cannot copy; and beside content and times, empty folders, names that
// share one file, extended attributes, access control lists and file
// capabilities, and later changes of them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "platform/failure.h"
#include "tests/support/child_process.h"
#include "tests/support/image_mount.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::Mode;
using testing::ReadFile;

struct stat Status(const std::string& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st;
}

std::map<std::string, std::string> Attributes(const std::string& path) {
  std::map<std::string, std::string> attributes;
  char names[4096];
  const ssize_t length = llistxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at < length; at += strlen(names + at) + 1) {
    char value[4096];
    const ssize_t size =
        lgetxattr(path.c_str(), names + at, value, sizeof value);
    attributes[names + at] = std::string(value, size > 0 ? size : 0);
  }
  return attributes;
}

bool Shell(const std::string& command) {
  return testing::ChildProcess("/bin/sh", {"-c", command + " 2>&1"}).Finish() ==
         0;
}

class FaithfulTest : public RunFixture {
 protected:
  std::vector<std::string> CopyLines() {
    std::vector<std::string> lines;
    for (const std::string& line : List2())
      if (line.starts_with(kNewFile) || line.starts_with(kDifferentFile))
        lines.push_back(line);
    return lines;
  }
};

TEST_F(FaithfulTest, EmptyFoldersAtEveryDepthAreMadeInTheirTurnAsFolders) {
  tree.Write("src/p/f", "x");
  for (const char* folder : {"empty", "p/q", "deep/er/still/empty"})
    tree.MakeFolder("src/" + std::string(folder));
  ASSERT_EQ(chmod(Src("p/q").c_str(), 0750), 0);
  for (bool incremental : {false, true}) {
    SCOPED_TRACE(incremental);
    Go(incremental);
    for (const char* folder : {"empty", "p/q", "deep/er/still/empty"}) {
      SCOPED_TRACE(folder);
      EXPECT_TRUE(std::filesystem::is_empty(Dst(folder)));
      EXPECT_EQ(Count(List2(), kCheckingFolder + Dst(folder)), 1);
      EXPECT_EQ(Count(List2(), kCreatingFolder + Dst(folder)),
                incremental ? 0 : 1);
    }
    EXPECT_EQ(Mode(Dst("p/q")), 0750u);
    // After the files of its parent, and no file itself.
    const auto line = [&](const std::string& text) {
      return std::find(List2().begin(), List2().end(), text) - List2().begin();
    };
    if (!incremental) {
      EXPECT_LT(line(kNewFile + Dst("p/f")),
                line(kCheckingFolder + Dst("p/q")));
    }
    EXPECT_EQ(window.List(ListBox::kList1),
              std::vector<std::string>{Src("p/f")});
    EXPECT_EQ(run->LastOutcome().files_collected, 1);
  }
}

TEST_F(FaithfulTest, NamesSharingAFileShareOneInTheBackupThroughEveryChange) {
  // The first name met is in the root: a folder's files come first.
  tree.Write("src/a", "shared");
  tree.Write("src/alone", "own");
  tree.MakeFolder("src/g");
  tree.MakeFolder("src/h");
  for (const char* name : {"h/b", "h/c"})
    ASSERT_EQ(link(Src("a").c_str(), Src(name).c_str()), 0);
  const std::vector<std::string> names = {"a", "h/b", "h/c", "g/d", "alone"};
  const struct {
    const char* change;  // a shell command run in the tree before the run
    bool incremental;
    std::vector<std::string> lines;
    std::set<std::set<std::string>> groups;
  } steps[] = {
      {"",
       false,
       {kNewFile + Dst("a"), kNewFile + Dst("alone"), kNewFile + Dst("h/b"),
        kNewFile + Dst("h/c")},
       {{"a", "h/b", "h/c"}, {"alone"}, {"g/d"}}},
      {"", true, {}, {{"a", "h/b", "h/c"}, {"alone"}, {"g/d"}}},
      // A new name for the group.
      {"ln src/a src/g/d",
       true,
       {kNewFile + Dst("g/d")},
       {{"a", "h/b", "h/c", "g/d"}, {"alone"}}},
      // Split off in the source with the same length and time.
      {"cp -p src/h/c src/h/c2 && mv src/h/c2 src/h/c",
       true,
       {kDifferentFile + Dst("h/c")},
       {{"a", "h/b", "g/d"}, {"h/c"}, {"alone"}}},
      // Split off in the backup: linked again.
      {"cp -p dst/h/b dst/h/b2 && mv dst/h/b2 dst/h/b",
       true,
       {kDifferentFile + Dst("h/b")},
       {{"a", "h/b", "g/d"}, {"h/c"}, {"alone"}}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.change);
    ASSERT_TRUE(Shell("cd '" + tree.root() + "' && true " +
                      (*step.change ? std::string("&& ") + step.change : "")));
    Go(step.incremental);
    std::vector<std::string> lines = CopyLines();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, step.lines);
    EXPECT_EQ(Figure(FigureBox::kText4), std::to_string(step.lines.size()));
    // The names that share one file in the backup.
    std::map<ino_t, std::set<std::string>> by_file;
    for (const std::string& name : names)
      by_file[Status(Dst(name)).st_ino].insert(name);
    std::set<std::set<std::string>> groups;
    for (const auto& [inode, group] : by_file) groups.insert(group);
    EXPECT_EQ(groups, step.groups);
    for (const std::string& name : names) {
      if (name != "alone" && testing::Exists(Src(name))) {
        EXPECT_EQ(ReadFile(Dst(name)), "shared");
      }
    }
  }
}

TEST_F(FaithfulTest,
       AttributesCapabilitiesAndAclsAreKeptAndLaterChangesCarried) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for capabilities";
  tree.Write("src/noted", "x");
  tree.Write("src/tool", "#!/bin/sh\n");
  tree.Write("src/shared/plain", "y");
  tree.Write("src/shared/bare", "z");
  ASSERT_EQ(setxattr(Src("noted").c_str(), "user.origin", "camera", 6, 0), 0);
  // Owned by someone else, as a capability outlives only the change of
  // owner made before it.
  ASSERT_EQ(chown(Src("tool").c_str(), 4242, 4243), 0);
  ASSERT_TRUE(Shell("setcap cap_net_raw+ep '" + Src("tool") + "'"));
  ASSERT_TRUE(Shell("setfacl -m u:4242:rwx,g::r-x '" + Src("shared") +
                    "' && setfacl -d -m u:4242:r-x '" + Src("shared") +
                    "' && chmod 0750 '" + Src("shared") + "'"));
  const auto expect_kept = [&](const std::string& name) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Attributes(Src(name)).empty());
    EXPECT_EQ(Attributes(Dst(name)), Attributes(Src(name)));
    EXPECT_EQ(Mode(Dst(name)), Mode(Src(name)));
    EXPECT_EQ(Status(Dst(name)).st_uid, Status(Src(name)).st_uid);
  };
  Go();
  for (const char* name : {"noted", "tool", "shared"}) expect_kept(name);

  // Changed after the backup, content and times untouched: carried over
  // without a copy, and without a line.
  // Status-change times move with the kernel's clock tick, a few ms.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const ino_t noted = Status(Dst("noted")).st_ino;
  const int64_t mtime = testing::MtimeNs(Dst("noted"));
  ASSERT_EQ(chmod(Src("noted").c_str(), 0600), 0);
  ASSERT_TRUE(Shell("setfacl -m u:4242:r '" + Src("shared/plain") + "'"));
  Go(true);
  for (const char* name : {"noted", "shared/plain", "shared"})
    expect_kept(name);
  EXPECT_EQ(CopyLines(), std::vector<std::string>{});
  EXPECT_EQ(Status(Dst("noted")).st_ino, noted);
  EXPECT_EQ(testing::MtimeNs(Dst("noted")), mtime);
  EXPECT_EQ(Count(List3(), "Error"), 0);

  // Copied again into a folder whose default list a new file inherits: the
  // copy of a file without attributes ends without any too.
  Go();
  EXPECT_TRUE(Attributes(Dst("shared/bare")).empty());
}

TEST_F(FaithfulTest, FatAndExfatKeepContentAndFailOnlySymbolicLinks) {
  // Names sharing a file, attributes, owners, bits and holes are dropped
  // quietly; a symbolic link cannot be stored and fails alone.
  tree.Write("src/g/a", "shared");
  tree.MakeFolder("src/h");
  tree.MakeFolder("src/empty");
  ASSERT_EQ(link(Src("g/a").c_str(), Src("h/b").c_str()), 0);
  ASSERT_EQ(setxattr(Src("g/a").c_str(), "user.origin", "camera", 6, 0), 0);
  tree.Write("src/sub/file", "content");
  ASSERT_EQ(chmod(Src("sub").c_str(), 0750), 0);
  ASSERT_EQ(geteuid() == 0 ? chown(Src("sub/file").c_str(), 4242, 4243) : 0, 0);
  ASSERT_EQ(symlink("file", Src("sub/link").c_str()), 0);
  // FAT through FUSE refuses to write past the end of a file, so a sparse
  // file is written whole; exFAT fills the gap itself.
  ASSERT_EQ(truncate(tree.Write("src/image", "start").c_str(), 8 << 20), 0);
  for (const auto kind :
       {testing::ImageMount::Kind::kFat32, testing::ImageMount::Kind::kExfat}) {
    SCOPED_TRACE(static_cast<int>(kind));
    testing::TempTree images;
    std::string why_not;
    const auto mount =
        testing::ImageMount::Create(kind, images.root(), &why_not);
    if (!mount) GTEST_SKIP() << "cannot mount the image: " << why_not;
    window.text2 = mount->path() + "/backup";
    for (bool incremental : {false, true}) {
      SCOPED_TRACE(incremental);
      window.failures.clear();
      Go(incremental);
      EXPECT_EQ(List3().end()[-2],
                "Error copying file: " + window.text2 + "/sub/link");
      ASSERT_EQ(window.failures.size(), 1u);
      EXPECT_EQ(window.failures[0].error, kErrorNoLinks);
      EXPECT_EQ(Figure(FigureBox::kText4), incremental ? "1" : "5");
    }
    for (const char* name : {"g/a", "h/b", "sub/file", "image"})
      EXPECT_EQ(ReadFile(window.text2 + "/" + name), ReadFile(Src(name)));
    EXPECT_TRUE(std::filesystem::is_directory(window.text2 + "/empty"));
    // No link, nor one left under a temporary name.
    EXPECT_EQ(testing::Entries(window.text2 + "/sub").size(), 1u);
  }
}

constexpr int64_t kMiB = 1 << 20;
constexpr char kData[] = "data";

// A file of `size` bytes holding `data` at each of `offsets`, holes
// elsewhere.
void MakeSparse(const std::string& path, int64_t size,
                const std::vector<int64_t>& offsets,
                const std::string& data = kData) {
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, size), 0);
  for (int64_t offset : offsets)
    ASSERT_EQ(pwrite(fd, data.data(), data.size(), offset),
              static_cast<ssize_t>(data.size()));
  close(fd);
}

// Reads 8 bytes at `offset`: kData where it was written, zeros in a hole.
std::string At(const std::string& path, int64_t offset) {
  std::string bytes(8, '?');
  const int fd = open(path.c_str(), O_RDONLY);
  const ssize_t got = pread(fd, bytes.data(), bytes.size(), offset);
  close(fd);
  bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
  return bytes;
}

// Name, size and where data lies: holes inside, at the start, at the end,
// and nothing but a hole.
const std::tuple<const char*, int64_t, std::vector<int64_t>> kFiles[] = {
    {"disk.img", 1024 * kMiB, {0, 512 * kMiB, 1024 * kMiB - 4}},
    {"tail_hole", 64 * kMiB, {4096}},
    {"head_hole", 8 * kMiB, {8 * kMiB - 4}},
    {"all_hole", 16 * kMiB, {}},
};

using SparseTest = RunFixture;

TEST_F(SparseTest, HolesStayHolesInFullAndIncrementalRuns) {
  for (const auto& [name, size, offsets] : kFiles)
    MakeSparse(Src(name), size, offsets);
  for (bool incremental : {false, true}) {
    SCOPED_TRACE(incremental ? "incremental" : "full");
    if (incremental) {
      MakeSparse(Src("disk.img"), 1024 * kMiB, {4 * kMiB});
      testing::SetMtimeNs(Src("disk.img"), 1'700'000'000'000'000'000);
    }
    Go(incremental);
    EXPECT_EQ(Count(List3(), "Error"), 0);
    EXPECT_EQ(Figure(FigureBox::kText4), incremental ? "1" : "4");
    for (const auto& [name, size, offsets] : kFiles) {
      SCOPED_TRACE(name);
      // A few KiB each, as the source: 1 GiB of zeros would take 2 million.
      const std::string copy = Dst(name);
      EXPECT_LE(Status(copy).st_blocks, Status(Src(name)).st_blocks + 16);
      if (incremental) continue;
      EXPECT_EQ(Status(copy).st_size, size);
      for (int64_t offset : offsets) {
        EXPECT_EQ(At(copy, offset).substr(0, 4), kData) << offset;
        if (offset > 4096) {
          EXPECT_EQ(At(copy, offset - 8), std::string(8, '\0'));
        }
      }
      EXPECT_EQ(At(copy, size / 3), At(Src(name), size / 3));
    }
  }
  EXPECT_EQ(At(Dst("disk.img"), 4 * kMiB).substr(0, 4), kData);
  EXPECT_EQ(At(Dst("disk.img"), 0), std::string(8, '\0'));
}

// The system's platform, except that the kernel cannot copy between the two
// files (as across file systems or on an old kernel) and every read is
// short: at most 7 bytes, and a single byte once in the middle.
class ShortReadPlatform : public testing::FaultyPlatform {
 public:
  explicit ShortReadPlatform(int kernel_error) : kernel_error_(kernel_error) {
    chunk_limit = 7;
  }
  int CopyRange(Handle, Handle, int64_t, int64_t*) override {
    ++kernel_copies;
    return kernel_error_;
  }
  int Read(Handle file, char* buffer, size_t size, size_t* got) override {
    if (++reads == 1000) size = std::min<size_t>(size, 1);
    return FaultyPlatform::Read(file, buffer, size, got);
  }
  int kernel_copies = 0;
  int reads = 0;

 private:
  int kernel_error_;
};

// `length` bytes of a pattern that repeats neither every 7 bytes nor every
// buffer.
std::string Patterned(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>((i * 131 + i / 7) % 251 + 1);
  return bytes;
}

TEST_F(SparseTest, ShortReadsWithoutAKernelCopyGiveAWholeExactCopy) {
  // A length no read size divides, and a sparse file of three data ranges.
  MakeSparse(Src("whole"), 100'003, {0}, Patterned(100'003));
  MakeSparse(Src("sparse"), 4 * kMiB, {0, 2 * kMiB, 4 * kMiB - 12'289},
             Patterned(12'289));
  for (int kernel_error : {EXDEV, ENOSYS}) {
    SCOPED_TRACE(kernel_error);
    ShortReadPlatform platform(kernel_error);
    UsePlatform(platform);
    Go();
    UsePlatform(DefaultPlatform());  // before `platform` goes
    EXPECT_EQ(Count(List3(), "Error"), 0);
    EXPECT_EQ(Figure(FigureBox::kText4), "2");
    EXPECT_GT(platform.kernel_copies, 0);
    EXPECT_GE(platform.reads, (100'003 + 3 * 12'289) / 7);
    for (const char* name : {"whole", "sparse"}) {
      SCOPED_TRACE(name);
      EXPECT_TRUE(ReadFile(Dst(name)) == ReadFile(Src(name)));
      EXPECT_EQ(Status(Dst(name)).st_size, Status(Src(name)).st_size);
    }
    EXPECT_LE(Status(Dst("sparse")).st_blocks,
              Status(Src("sparse")).st_blocks + 16);
  }
}

}  // namespace
}  // namespace ferrybox
