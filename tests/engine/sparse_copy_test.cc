// SPDX-License-Identifier: GPL-3.0-or-later
// File content copied exactly: sparse files (disk images, databases) with
// their holes, and by reads and writes where the kernel cannot copy.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

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

struct stat Status(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st;
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

struct Sparse {
  const char* name;
  int64_t size;
  std::vector<int64_t> offsets;
};

// Holes inside, at the start, at the end, and nothing but a hole.
const Sparse kFiles[] = {
    {"disk.img", 1024 * kMiB, {0, 512 * kMiB, 1024 * kMiB - 4}},
    {"tail_hole", 64 * kMiB, {4096}},
    {"head_hole", 8 * kMiB, {8 * kMiB - 4}},
    {"all_hole", 16 * kMiB, {}},
};

using SparseTest = RunFixture;
using testing::ReadFile;

TEST_F(SparseTest, HolesStayHolesInFullAndIncrementalRuns) {
  for (const Sparse& file : kFiles)
    MakeSparse(Src(file.name), file.size, file.offsets);
  for (bool incremental : {false, true}) {
    SCOPED_TRACE(incremental ? "incremental" : "full");
    if (incremental) {
      MakeSparse(Src("disk.img"), 1024 * kMiB, {4 * kMiB});
      testing::SetMtimeNs(Src("disk.img"), 1'700'000'000'000'000'000);
    }
    Go(incremental);
    EXPECT_EQ(Count(List3(), "Error"), 0);
    EXPECT_EQ(Figure(FigureBox::kText4), incremental ? "1" : "4");
    for (const Sparse& file : kFiles) {
      SCOPED_TRACE(file.name);
      // A few KiB each, as the source: 1 GiB of zeros would take 2 million.
      const std::string copy = Dst(file.name);
      EXPECT_LE(Status(copy).st_blocks, Status(Src(file.name)).st_blocks + 16);
      if (incremental) continue;
      EXPECT_EQ(Status(copy).st_size, file.size);
      for (int64_t offset : file.offsets) {
        EXPECT_EQ(At(copy, offset).substr(0, 4), kData) << offset;
        if (offset > 4096) {
          EXPECT_EQ(At(copy, offset - 8), std::string(8, '\0'));
        }
      }
      EXPECT_EQ(At(copy, file.size / 3), At(Src(file.name), file.size / 3));
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
