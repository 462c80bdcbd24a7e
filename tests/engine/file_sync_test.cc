// SPDX-License-Identifier: GPL-3.0-or-later
// Files brought over by the full and incremental rules, with their content
// (holes and all), times and links.
#include "engine/file_sync.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <tuple>

#include "engine/link_copy.h"
#include "engine/path_names.h"
#include "platform/folder_of.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::MtimeNs;
using testing::ReadFile;
using testing::SetMtimeNs;

using SyncTest = RunFixture;

struct stat StatFollowingLinks(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st;
}

// A name in the root and a bare name are where splitting goes wrong: a
// file in "/" must not lose its folder, a bare name lies in the working
// folder.
TEST(PathSplit, FindsTheFolderOfAPathAtItsLastSeparator) {
  const std::tuple<const char*, int, const char*> cases[] = {
      {"a/b/c", 4, "a/b"}, {"/a/b", 3, "/a"}, {"/x", 1, "/"},
      {"x", 0, "."},       {"a/", 2, "a"},    {"", 0, "."}};
  for (const auto& [path, slash, folder] : cases) {
    EXPECT_EQ(lastslash(path), slash) << path;
    EXPECT_EQ(FolderOf(path), folder) << path;
  }
}

TEST_F(SyncTest, FullModeReportsFoldersAndFilesInOrderAndKeepsModeAndTime) {
  const std::string script = tree.Write("src/a.sh", "#!/bin/sh\n");
  ASSERT_EQ(chmod(script.c_str(), 0700), 0);
  SetMtimeNs(script, 1600000000123456789);
  tree.Write("src/sub/b", "");
  tree.Write("src/sub/deep/c", std::string(200000, 'c'));
  window.text1 = Src("");  // ends in a separator
  window.text2 = Dst() + "//";
  std::vector<std::string> lines;
  for (const auto& [folder, file] :
       {std::pair<std::string, std::string>{"", "a.sh"},
        {"sub", "sub/b"},
        {"sub/deep", "sub/deep/c"}})
    lines.insert(lines.end(), {"checking directory exists=" + Dst(folder),
                               "Creating Folder: " + Dst(folder),
                               "New File, Copying: " + Dst(file)});
  Go();
  EXPECT_EQ(List2(), lines);
  Go();  // copies and reports every file again
  std::erase_if(lines, [](auto& l) { return l.starts_with("Creating"); });
  EXPECT_EQ(List2(), lines);
  EXPECT_EQ(testing::Mode(Dst("a.sh")), 0700u);
  EXPECT_EQ(MtimeNs(Dst("a.sh")), 1600000000123456789);
  EXPECT_EQ(ReadFile(Dst("sub/deep/c")), std::string(200000, 'c'));
  Go(true);  // so that an incremental run finds nothing to copy
  std::erase_if(lines, [](auto& l) { return l.starts_with("New File"); });
  EXPECT_EQ(List2(), lines);
}

TEST_F(SyncTest, IncrementalUpdatesOnLengthTimeEitherWayOrCaseOrReportsWhy) {
  testing::CaseFoldingPlatform platform;
  UsePlatform(platform);
  const char* changed[] = {"length", "newer", "older"};
  tree.Write("src/README.txt", "c");
  for (const char* name : changed) tree.Write(std::string("src/") + name, "c");
  tree.Write("src/same", "c");
  tree.Write("src/sub/same", "c");
  tree.Write("src/secret", "earlier");
  Go();
  tree.Write("dst/length", "c, longer");
  SetMtimeNs(Dst("length"), MtimeNs(Src("length")));
  SetMtimeNs(Dst("newer"), MtimeNs(Src("newer")) + 1);
  SetMtimeNs(Dst("older"), MtimeNs(Src("older")) - 1);
  ASSERT_EQ(rename(Dst("README.txt").c_str(), Dst("readme.txt").c_str()), 0);
  tree.Write("src/added", "new");
  tree.Write("src/secret", "new secret");
  platform.FailNth(testing::FaultyPlatform::Kind::kOpen, 0, EACCES, "secret");

  Go(true);
  for (const char* name : changed) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Count(List2(), "Different File, Updating=" + Dst(name)), 1);
    EXPECT_EQ(ReadFile(Dst(name)), "c");
    EXPECT_EQ(MtimeNs(Dst(name)), MtimeNs(Src(name)));
  }
  // A copy stored in another case only is renamed, not copied again.
  EXPECT_EQ(testing::Entries(Dst()).count("README.txt"), 1u);
  EXPECT_EQ(testing::Entries(Dst()).count("readme.txt"), 0u);
  EXPECT_EQ(Count(List2(), "New File, Copying: " + Dst("added")), 1);
  EXPECT_EQ(Figure(FigureBox::kText4), "5");  // the same files go unreported
  const std::string error = "Error copying file: " + Dst("secret");
  EXPECT_EQ(Count(List3(), "Error"), 1);
  EXPECT_EQ(CopyLog(), error + "\r\n");
  EXPECT_EQ(ReadFile(Dst("secret")), "earlier");

  platform.Heal();
  Go(true);  // the copy log starts afresh, List3 keeps every run
  EXPECT_EQ(Figure(FigureBox::kText4), "1");
  EXPECT_EQ(ReadFile(Dst("secret")), "new secret");
  EXPECT_EQ(CopyLog(), "");
  EXPECT_EQ(Count(List3(), error), 1);
}

TEST_F(SyncTest, IncrementalSeesOnlyFilesAndLinksAsEarlierCopies) {
  for (const char* name : {"folder", "fifo", "link", "file"})
    tree.Write(std::string("src/") + name, name);
  ASSERT_EQ(symlink("elsewhere", Src("symlink").c_str()), 0);
  tree.Write("dst/folder/inside", "kept");
  tree.MakeFolder("dst/symlink");
  ASSERT_EQ(mkfifo(Dst("fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("elsewhere", Dst("link").c_str()), 0);
  tree.Write("dst/file", "different");
  // Each source entry is a file but `symlink`; at the destination each name
  // holds the kind it is named after.
  Go(true);
  // name, line, whether the copy fails
  const std::tuple<const char*, const char*, bool> table[] = {
      {"folder", "New File, Copying: ", true},
      {"symlink", "New File, Copying: ", true},
      {"fifo", "New File, Copying: ", false},
      {"link", "Different File, Updating=", false},
      {"file", "Different File, Updating=", false},
  };
  for (const auto& [name, line, fails] : table) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Count(List2(), line + Dst(name)), 1);
    EXPECT_EQ(Count(List3(), "Error copying file: " + Dst(name)),
              fails ? 1 : 0);
  }
  EXPECT_EQ(Figure(FigureBox::kText4), "5");
  EXPECT_EQ(ReadFile(Dst("folder/inside")), "kept");
  // Read only once it is a file: opening a FIFO would wait for a writer.
  ASSERT_TRUE(std::filesystem::is_regular_file(Dst("fifo")));
  EXPECT_EQ(ReadFile(Dst("fifo")), "fifo");
  EXPECT_EQ(ReadFile(Dst("link")), "link");
}

TEST_F(SyncTest, TimesBeyondANanosecondCountAreKeptExactlyAndLeftAlone) {
  // 2400-01-01, past the 2262 that 64 bits of nanoseconds reach, and a time
  // before 1970, each with a part below the second.
  const struct timespec times[] = {{13'569'465'600, 123'456'789},
                                   {-2'000'000'000, 5}};
  for (const struct timespec& time : times) {
    const std::string name = std::to_string(time.tv_sec);
    tree.Write("src/" + name, name);
    const struct timespec both[2] = {time, time};
    ASSERT_EQ(utimensat(AT_FDCWD, Src(name).c_str(), both, 0), 0);
  }
  Go();
  for (const struct timespec& time : times) {
    SCOPED_TRACE(time.tv_sec);
    const struct stat copy =
        StatFollowingLinks(Dst(std::to_string(time.tv_sec)));
    EXPECT_EQ(copy.st_mtim.tv_sec, time.tv_sec);
    EXPECT_EQ(copy.st_mtim.tv_nsec, time.tv_nsec);
  }
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
}

std::string Target(const std::string& path) {
  std::error_code error;
  return std::filesystem::read_symlink(path, error).string();
}

TEST_F(SyncTest, EveryLinkBelowTheRootIsCopiedAsALinkAndCountsAsAFile) {
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

TEST_F(SyncTest, IncrementalRunsCompareLinkTargetsAndReplaceEitherKind) {
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
  // Only the target text decides: a newer time or another owner is no
  // change, and is carried to the link itself.
  const struct timespec times[2] = {{0, UTIME_OMIT}, {2'000'000'000, 0}};
  ASSERT_EQ(
      utimensat(AT_FDCWD, Src("same").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(lchown(Src("same").c_str(), 4242, 4243), 0);
  }
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
  struct stat same {};
  ASSERT_EQ(lstat(Dst("same").c_str(), &same), 0);
  EXPECT_EQ(same.st_mtim.tv_sec, 2'000'000'000);
  if (root) {
    EXPECT_EQ(same.st_uid, 4242u);
    EXPECT_EQ(same.st_gid, 4243u);
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

TEST_F(SyncTest, HolesStayHolesInFullAndIncrementalRuns) {
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
      EXPECT_LE(StatFollowingLinks(copy).st_blocks,
                StatFollowingLinks(Src(name)).st_blocks + 16);
      if (incremental) continue;
      EXPECT_EQ(StatFollowingLinks(copy).st_size, size);
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
  ShortReadPlatform() { chunk_limit = 7; }
  int CopyRange(Handle, Handle, int64_t, int64_t*) override {
    ++kernel_copies;
    return kernel_error;
  }
  int Read(Handle file, char* buffer, size_t size, size_t* got) override {
    if (++reads == 1000) size = std::min<size_t>(size, 1);
    return FaultyPlatform::Read(file, buffer, size, got);
  }
  // Copies run on threads of their own.
  std::atomic<int> kernel_error = 0;  // what every kernel copy fails with
  std::atomic<int> kernel_copies = 0;
  std::atomic<int> reads = 0;
};

// `length` bytes of a pattern that repeats neither every 7 bytes nor every
// buffer.
std::string Patterned(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>((i * 131 + i / 7) % 251 + 1);
  return bytes;
}

TEST_F(SyncTest, ShortReadsWithoutAKernelCopyGiveAWholeExactCopy) {
  // A length no read size divides, and a sparse file of three data ranges.
  MakeSparse(Src("whole"), 100'003, {0}, Patterned(100'003));
  MakeSparse(Src("sparse"), 4 * kMiB, {0, 2 * kMiB, 4 * kMiB - 12'289},
             Patterned(12'289));
  for (int kernel_error : {EXDEV, ENOSYS}) {
    SCOPED_TRACE(kernel_error);
    ShortReadPlatform platform;
    platform.kernel_error = kernel_error;
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
      EXPECT_EQ(StatFollowingLinks(Dst(name)).st_size,
                StatFollowingLinks(Src(name)).st_size);
    }
    EXPECT_LE(StatFollowingLinks(Dst("sparse")).st_blocks,
              StatFollowingLinks(Src("sparse")).st_blocks + 16);
  }
}

}  // namespace
}  // namespace ferrybox
