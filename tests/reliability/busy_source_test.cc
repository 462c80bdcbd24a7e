// SPDX-License-Identifier: GPL-3.0-or-later
// Sources that other programs hold open or write while they are copied.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/failure.h"
#include "tests/reliability/scenario_fixture.h"

namespace ferrybox {
namespace {

constexpr size_t kSize = 3 << 20;

// Opens `path` for writing without waiting on a lease: the first try
// breaks it and the holder lets go at once. -1 after a second.
int OpenForWriting(const std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != EWOULDBLOCK) return fd;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

// Overwrites the whole file in place, as one long write would, and puts
// its last-modified time back: the status before and after the copy then
// differ in nothing but the status-change time, which no call can set.
void Overwrite(int fd, const std::string& content) {
  struct stat before;
  ASSERT_EQ(fstat(fd, &before), 0);
  // A clock past the last change, so the write cannot share its stamp.
  for (int wait = 0; wait < 1000; ++wait) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    if (std::pair(now.tv_sec, now.tv_nsec) >
        std::pair(before.st_ctim.tv_sec, before.st_ctim.tv_nsec))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(pwrite(fd, content.data(), content.size(), 0),
            static_cast<ssize_t>(content.size()));
  const struct timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
  ASSERT_EQ(futimens(fd, times), 0);
}

TEST_F(ScenarioTest, ACopyIsNeverTwoVersionsOfAFileOthersWrite) {
  enum Writer { kNobody, kHolds, kCannotTell };
  // How a write during the copy shows: in the status-change time, or (as
  // through a shared mapping) in nothing but the content.
  enum Write { kNone, kSeen, kUnseen };
  // How long each file seems to have been left alone. A file changed now
  // seems changed a minute ahead, so that no pause of the test before the
  // copy can make it look idle.
  constexpr int64_t kNow = -60, kIdle = 60;
  constexpr size_t kSmall = 1000;
  const struct {
    const char* name;
    size_t size;
    Writer writer;
    int64_t age_s;
    Write write;
    int error;  // 0: copied
    bool read_twice;
  } cases[] = {
      {"saved a moment ago", kSize, kNobody, kNow, kNone, 0, false},
      {"saved, then opened and written during the copy", kSize, kNobody, kNow,
       kSeen, kErrorWrittenDuringCopy, false},
      {"left alone, then opened and written during the copy", kSize, kNobody,
       kIdle, kUnseen, kErrorWrittenDuringCopy, false},
      {"held open, changed a moment ago", kSize, kHolds, kNow, kNone, 0, true},
      {"held open but idle", kSize, kHolds, kIdle, kNone, 0, true},
      {"held open, idle, written during the copy", kSize, kHolds, kIdle, kSeen,
       kErrorOpenForWriting, true},
      {"held open, idle, written through a mapping during the copy", kSize,
       kHolds, kIdle, kUnseen, kErrorOpenForWriting, true},
      {"no lease here, changed a moment ago", kSize, kCannotTell, kNow, kNone,
       0, true},
      {"no lease here, idle, written through a mapping during the copy", kSize,
       kCannotTell, kIdle, kUnseen, kErrorSourceChanged, true},
      {"small, held open, changed a moment ago", kSmall, kHolds, kNow, kNone, 0,
       true},
      {"small, no lease here, changed a moment ago", kSmall, kCannotTell, kNow,
       kNone, kErrorRecentlyChanged, false},
      {"small, no lease here, idle", kSmall, kCannotTell, kIdle, kNone, 0,
       false},
  };
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseCase("case" + std::to_string(++number));
    WriteSrc("big.bin", Pattern(c.size, 1));
    Go();
    WriteSrc("big.bin", Pattern(c.size, 2));
    const Files before = TakeFiles(Dst(""));

    const int held = c.writer == kHolds ? OpenForWriting(Src("big.bin")) : -1;
    if (c.write == kUnseen) {
      faults.frozen_ctime_s = time(nullptr) - c.age_s;
    } else {
      faults.status_age_s = c.age_s;
    }
    faults.lease_error = c.writer == kCannotTell ? EINVAL : 0;
    faults.chunk_limit = 256 * 1024;
    int reads = 0;
    faults.before_call = [&](Kind kind, const std::string& name) {
      if (kind != Kind::kRead || name != "big.bin" || ++reads != 2 ||
          c.write == kNone)
        return;
      const int fd = held >= 0 ? held : OpenForWriting(Src("big.bin"));
      ASSERT_GE(fd, 0);
      Overwrite(fd, Pattern(c.size, 3));
      if (fd != held) close(fd);
    };
    Go(true);
    using Paths = std::vector<std::string>;
    ExpectFailures(c.error == 0 ? Paths{} : Paths{"big.bin"});
    ExpectBackup(before, c.error == 0);
    std::vector<int> errors;
    for (const Failure& failure : window.failures)
      errors.push_back(failure.error);
    EXPECT_EQ(errors, c.error == 0 ? std::vector<int>{} : std::vector{c.error});
    // One pass over the content, in pieces of 256 KiB, unless read twice.
    const int one_pass = static_cast<int>((c.size + (256 << 10) - 1) >> 18);
    if (c.error != kErrorRecentlyChanged) {
      EXPECT_EQ(reads > one_pass, c.read_twice) << reads;
    }
    if (held >= 0) close(held);
    ExpectRepaired(before);
  }
}

TEST_F(ScenarioTest, LeasesRefusedAllRunLongLeaveRoomForTheNextOne) {
  // More files held open for writing than leases are held at once: each
  // lease refused is given back, so every one is asked for anew and
  // refused, and the file read twice, not failed.
  constexpr int kHeld = 80;
  std::vector<int> held;
  for (int i = 0; i < kHeld; ++i) {
    WriteSrc("f" + std::to_string(i), "held");
    held.push_back(OpenForWriting(Src("f" + std::to_string(i))));
    ASSERT_GE(held.back(), 0);
  }
  faults.status_age_s = -60;  // changed a moment ago: leased if it can be
  Go();
  for (const int fd : held) close(fd);
  ExpectFailures({});
  EXPECT_EQ(TakeFiles(Dst()).size(), size_t{kHeld});
}

}  // namespace
}  // namespace ferrybox
