// Sources that other programs hold open or write while they are copied.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "engine/copy_failure.h"
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
    if (now.tv_sec > before.st_ctim.tv_sec ||
        (now.tv_sec == before.st_ctim.tv_sec &&
         now.tv_nsec > before.st_ctim.tv_nsec))
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
  // How long each file seems to have been left alone. A file changed now
  // seems changed a minute ahead, so that no pause of the test before the
  // copy can make it look idle.
  constexpr int64_t kNow = -60, kIdle = 60;
  const struct {
    const char* name;
    Writer writer;
    int64_t age_s;
    bool written_during_copy;
    int error;  // 0: copied
  } cases[] = {
      {"saved a moment ago", kNobody, kNow, false, 0},
      {"saved, then opened and written during the copy", kNobody, kNow, true,
       kErrorWrittenDuringCopy},
      {"left alone, then opened and written during the copy", kNobody, kIdle,
       true, kErrorSourceChanged},
      {"held open, changed a moment ago", kHolds, kNow, false,
       kErrorOpenForWriting},
      {"held open but idle", kHolds, kIdle, false, 0},
      {"held open, idle, written during the copy", kHolds, kIdle, true,
       kErrorSourceChanged},
      {"no lease here, changed a moment ago", kCannotTell, kNow, false,
       kErrorRecentlyChanged},
      {"no lease here, idle", kCannotTell, kIdle, false, 0},
  };
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseCase("case" + std::to_string(++number));
    WriteSrc("big.bin", Pattern(kSize, 1));
    Go();
    WriteSrc("big.bin", Pattern(kSize, 2));
    const Files before = TakeFiles(Dst(""));

    const int held = c.writer == kHolds ? OpenForWriting(Src("big.bin")) : -1;
    faults.status_age_s = c.age_s;
    faults.lease_error = c.writer == kCannotTell ? EINVAL : 0;
    faults.chunk_limit = 256 * 1024;
    int reads = 0;
    faults.before_call = [&](Kind kind, const std::string& name) {
      if (kind != Kind::kRead || name != "big.bin" || ++reads != 2 ||
          !c.written_during_copy)
        return;
      const int fd = held >= 0 ? held : OpenForWriting(Src("big.bin"));
      ASSERT_GE(fd, 0);
      Overwrite(fd, Pattern(kSize, 3));
      if (fd != held) close(fd);
    };
    window.failures.clear();
    Go(true);
    if (c.error == 0) {
      ExpectFailures({});
      ExpectBackup(before, true);
    } else {
      ExpectFailures({"big.bin"});
      ExpectBackup(before, false);
      EXPECT_EQ(window.failures.size(), 1u);
      if (!window.failures.empty()) {
        EXPECT_EQ(window.failures[0].error, c.error);
      }
    }
    if (held >= 0) close(held);
    ExpectRepaired(before);
  }
}

}  // namespace
}  // namespace ferrybox
