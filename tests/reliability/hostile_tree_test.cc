// SPDX-License-Identifier: GPL-3.0-or-later
// Source trees built to trip a backup, sources that other programs hold open
// or write while they are copied, and backups tampered with.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/failure.h"
#include "tests/reliability/scenario_fixture.h"

namespace ferrybox {
namespace {

TEST_F(ScenarioTest, SpecialFilesAreNeverOpenedAndLinksAreCopiedAsLinks) {
  faults.hide_entry_types = true;  // so each entry is looked up
  WriteSrc("plain.txt", "plain");
  WriteSrc("sub/inner.txt", "inner");
  // Unfinished copies are not worth a copy; look-alikes are, and stay.
  WriteSrc(".~ferrybox-0123456789abcdef-7.part", "half a file");
  WriteSrc("sub/.~ferrybox-notes.part", "notes");
  ASSERT_EQ(mkfifo(Src("pipe").c_str(), 0644), 0);
  ASSERT_EQ(mknod(Src("sub/socket").c_str(), S_IFSOCK | 0644, 0), 0);
  // /dev/null, when allowed; a tape drive would rewind when opened.
  mknod(Src("device").c_str(), S_IFCHR | 0666, makedev(1, 3));
  const std::pair<const char*, const char*> links[] = {
      {"sub/up", ".."}, {"dangling", "none"}, {"to_file", "sub/inner.txt"}};
  for (const auto& [link, target] : links)
    ASSERT_EQ(symlink(target, Src(link).c_str()), 0);
  // A FIFO put in place of a file between the scan and its copy is opened
  // without waiting for a writer. Should the open wait, a writer comes after
  // a few seconds and ends the wait.
  WriteSrc("later_pipe", "a file when seen");
  faults.before_call = [this](Kind kind, const std::string& name) {
    EXPECT_FALSE(kind == Kind::kOpen &&
                 (name == "pipe" || name == "socket" || name == "device"));
    if (kind == Kind::kOpen && name == "later_pipe" &&
        unlink(Src(name).c_str()) == 0) {
      ASSERT_EQ(mkfifo(Src(name).c_str(), 0644), 0);
    }
  };
  std::atomic<bool> ended = false, waited = false;
  std::thread writer([&] {
    for (int i = 0; i < 60 && !ended; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int fd = ended ? -1
                         : open(Src("later_pipe").c_str(),
                                O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    waited = fd >= 0;
    if (fd >= 0) close(fd);
  });
  Go();
  ended = true;
  writer.join();
  EXPECT_FALSE(waited) << "the run waited for a writer of a FIFO";
  Files copied = TakeFiles(Dst(""));
  for (const auto& [link, target] : links)
    EXPECT_EQ(copied[link], "-> " + std::string(target));
  EXPECT_EQ(copied.size(), 6u);
  ExpectFailures({"later_pipe"});
  ExpectRepaired({});
}

TEST_F(ScenarioTest, OddNamesAreCopiedAndAFailedOneIsOneLineInTheLog) {
  // Names with "!" fail: one log line each.
  for (const std::string& name : std::vector<std::string>{
           "new\nline", "\r\nbreaks", "\xff\xfe not UTF-8", "-rf", "--help",
           std::string(255, 'n'), " space ", "back\\slash", "...", "-dir\n/in",
           "\x1b[31mred!", "new\nline!", "tab\t!"})
    WriteSrc("odd/" + name, name);
  faults.FailNth(Kind::kRename, 0, EIO, "!");
  Go();
  ExpectFailures({"odd/\x1b[31mred!", "odd/new\nline!", "odd/tab\t!"});
  ExpectBackup({}, false);
  ExpectRepaired({});
}

// Goes 100 folders deep below `root`, 6100 bytes, a file "file" in each
// holding its level, made on the way if `make`; the deepest file's content.
std::string DeepChain(const std::string& root, bool make) {
  const std::string level_name = "deep-folder-level-" + std::string(42, 'x');
  const char* const kLevel = level_name.c_str();
  const int home = open(".", O_RDONLY | O_DIRECTORY);
  bool found = chdir(root.c_str()) == 0;
  for (int level = 0; level < 100 && found; ++level)
    found = (!make || mkdir(kLevel, 0755) == 0) && chdir(kLevel) == 0 &&
            (!make || (std::ofstream("file") << level).good());
  const std::string content = found ? ReadFile("file") : "";
  const bool back = fchdir(home) == 0;
  close(home);
  return back ? content : "";
}

TEST_F(ScenarioTest, AHundredLevelsBeyondThePathLimitAreCopied) {
  ASSERT_EQ(DeepChain(Src(""), true), "99");
  Go();
  ExpectFailures({});
  EXPECT_EQ(DeepChain(Dst(""), false), "99");
}

TEST_F(ScenarioTest, LinksPlantedInTheBackupNeverRedirectAWrite) {
  for (const bool incremental : {false, true}) {
    SCOPED_TRACE(incremental ? "incremental" : "full");
    UseCase(incremental ? "incremental" : "full");
    MakeTreeAndEarlierBackup();
    const std::string out = incremental ? "out1" : "out0";
    for (const char* name : {"a.txt", "c.txt", "e.txt", "deep/f.txt", "link"})
      tree.Write(out + "/" + name, name);
    const Files outside = TakeFiles(tree.Path(out));
    // Links to the outside, and a copy sharing an outside file's data. The
    // two that stand where the source has a file or a link are replaced
    // themselves; the folder ones block their folder's files.
    for (const char* planted : {"a.txt", "link"})
      ASSERT_EQ(unlink(Dst(planted).c_str()), 0);
    std::filesystem::remove_all(Dst("sub"));
    ASSERT_EQ(symlink(tree.Path(out + "/a.txt").c_str(), Dst("a.txt").c_str()),
              0);
    ASSERT_EQ(symlink(tree.Path(out).c_str(), Dst("sub").c_str()), 0);
    ASSERT_EQ(symlink(tree.Path(out).c_str(), Dst("fresh").c_str()), 0);
    ASSERT_EQ(link(tree.Path(out + "/link").c_str(), Dst("link").c_str()), 0);
    Files before = TakeFiles(Dst(""));
    // Nor may a folder reached through a planted link get the attributes of
    // the folder it stands for.
    ASSERT_EQ(chmod(tree.Path(out).c_str(), 0751), 0);
    testing::SetMtimeNs(tree.Path(out), 1'000'000'000'000'000'000);
    Go(incremental);
    EXPECT_EQ(testing::Mode(tree.Path(out)), 0751u);
    EXPECT_EQ(testing::MtimeNs(tree.Path(out)), 1'000'000'000'000'000'000);
    ExpectFailures(
        {"sub/b.txt", "sub/c.txt", "sub/e.txt", "sub/d/d", "fresh/deep/f.txt"});
    ExpectBackup(before, false);
    EXPECT_EQ(ReadFile(Dst("a.txt")), "a longer text");
    EXPECT_EQ(std::filesystem::read_symlink(Dst("link")), "a.txt");
    for (const char* planted : {"a.txt", "sub", "fresh"}) {
      ASSERT_EQ(unlink(Dst(planted).c_str()), 0);
      before.erase(planted);
    }
    ExpectRepaired(before);
    EXPECT_EQ(TakeFiles(tree.Path(out)), outside);
  }
}

TEST_F(ScenarioTest, CopiesNeverGiveAwayAccessNorTakeAName) {
  // Root's copies keep their owner, and with it their set-id bits; a copy
  // whose owner the destination refused would hand others' set-id programs
  // root's rights: it loses them. Until its owner is set, a copy's group
  // (root's) may read no more of it than everyone else may: nothing here.
  const bool root = geteuid() == 0;
  const struct {
    const char* name;
    uid_t owner;
    gid_t group;
    unsigned mode, copied;
    uid_t copied_owner;
    gid_t copied_group;
  } files[] = {
      {"theirs", 4242, 4243, 06750, 06750, root ? 4242u : geteuid(),
       root ? 4243u : getegid()},
      {"refused", 4242, 4243, 06750, root ? 0750u : 06750u, geteuid(),
       getegid()},
      {"ours", geteuid(), getegid(), 06750, 06750, geteuid(), getegid()},
      {"our-group", geteuid(), 4243, 04710, 04710, geteuid(),
       root ? 4243u : getegid()}};
  for (const auto& file : files) {
    WriteSrc(file.name, "#!/bin/sh\n");
    ASSERT_EQ(root ? chown(Src(file.name).c_str(), file.owner, file.group) : 0,
              0);
    ASSERT_EQ(chmod(Src(file.name).c_str(), file.mode), 0);
  }
  // The first name picked for a copy is taken by someone just before.
  tree.MakeFolder("case/dst");
  std::string taken;
  std::vector<unsigned> modes_when_complete;
  faults.before_call = [&](Kind kind, const std::string& name) {
    if (kind == Kind::kOpen && IsTempName(name) && taken.empty())
      tree.Write("case/dst/" + (taken = name), "someone's");
    if (kind == Kind::kSetTimes && IsTempName(name))
      modes_when_complete.push_back(testing::Mode(Dst(name)));
    if (kind == Kind::kStat && name == "refused")
      faults.FailNth(Kind::kSetOwner, 1, EPERM);
  };
  Go();
  ExpectFailures({});
  EXPECT_EQ(ReadFile(Dst(taken)), "someone's");
  EXPECT_EQ(modes_when_complete, std::vector<unsigned>(4, 0700));
  for (const auto& file : files) {
    EXPECT_EQ(testing::Mode(Dst(file.name)), file.copied) << file.name;
    struct stat st;
    ASSERT_EQ(lstat(Dst(file.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, file.copied_owner) << file.name;
    EXPECT_EQ(st.st_gid, file.copied_group) << file.name;
  }
}

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
      {"small, idle, written during the copy with its time put back", kSmall,
       kCannotTell, kIdle, kSeen, kErrorSourceChanged, false},
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
    if (c.write == kUnseen)
      faults.frozen_ctime_s = time(nullptr) - c.age_s;
    else
      faults.status_age_s = c.age_s;
    faults.lease_error = c.writer == kCannotTell ? EINVAL : 0;
    // In two pieces at least, so that a write between them tears the copy.
    const size_t piece = std::min<size_t>(c.size / 2, 256 << 10);
    faults.chunk_limit = piece;
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
    // One pass over the content, in its pieces, unless read twice.
    const int one_pass = static_cast<int>((c.size + piece - 1) / piece);
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
