// SPDX-License-Identifier: GPL-3.0-or-later
// Runs whose calls fail, whose source changes, or that are killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "tests/reliability/scenario_fixture.h"

namespace ferrybox {
namespace {

TEST_F(ScenarioTest, EachFaultFailsItsFilesOnlyAndIsRepairedLater) {
  using Change = std::function<void()>;
  auto fail = [&](Kind kind, int nth, int error, std::string name) -> Change {
    return [=, this] { faults.FailNth(kind, nth, error, name); };
  };
  auto on = [&](Kind kind, std::string name, Change change) -> Change {
    return [=, this] {
      faults.before_call = [=, this](Kind call, const std::string& on) {
        if (call != kind || on != name) return;
        faults.before_call = nullptr;
        change();
      };
    };
  };
  auto remove = [&](std::string path) -> Change {
    return [=, this] { std::filesystem::remove_all(Src(path)); };
  };
  const std::string temp = ".~ferrybox-";
  std::vector<std::pair<Change, std::vector<std::string>>> scenarios = {
      {fail(Kind::kRead, 6, EIO, "big.bin"), {"big.bin"}},  // of 12
      {fail(Kind::kWrite, 5, ENOSPC, temp), {"big.bin"}},   // root files first
      {fail(Kind::kRename, 1, EIO, "c.txt"), {"sub/c.txt"}},
      {fail(Kind::kMkdir, 1, EACCES, "fresh"), {"fresh/deep/f.txt"}},
      // A copy whose time is not set would pass for current: never kept.
      {on(Kind::kOpen, "c.txt", fail(Kind::kSetTimes, 1, EPERM, temp)),
       {"sub/c.txt"}},
      // Rewritten while being read: a copy would mix versions.
      {on(Kind::kRead, "big.bin",
          on(Kind::kRead, "big.bin",
             [&] { WriteSrc("big.bin", Pattern(3 << 20, 3)); })),
       {"big.bin"}},
      {on(Kind::kOpen, "c.txt", remove("sub/c.txt")), {"sub/c.txt"}},
      {on(Kind::kOpen, "e.txt",
          [&] {
            remove("sub/e.txt")();
            WriteSrc("sub/e.txt/inside", "now a folder");
          }),
       {"sub/e.txt"}},
      {on(Kind::kStat, "a.txt", remove("sub")),
       {"sub/b.txt", "sub/c.txt", "sub/e.txt", "sub/d/d"}},
      // A link's copy cannot be made, or put in place.
      {on(Kind::kRead, "link", fail(Kind::kOpen, 1, EIO, temp)), {"link"}},
      {on(Kind::kRead, "link", fail(Kind::kRename, 1, EIO, "link")), {"link"}},
      // The disk did not take what the run wrote: no silent "Finished".
      {fail(Kind::kFlush, 1, EIO, ""), {""}},
  };
  // Root's copies keep their owner; a disk that fails to is no refusal.
  if (geteuid() == 0)
    scenarios.push_back(
        {on(Kind::kOpen, "c.txt", fail(Kind::kSetOwner, 1, EIO, temp)),
         {"sub/c.txt"}});
  int number = 0;
  for (const auto& [arm, failed] : scenarios) {
    SCOPED_TRACE(++number);
    UseCase("scenario" + std::to_string(number));
    const Files before = MakeTreeAndEarlierBackup();
    faults.chunk_limit = 256 * 1024;
    arm();
    Go();
    ExpectFailures(failed);
    ExpectBackup(before, false);
    ExpectRepaired(before);
  }
}

TEST_F(ScenarioTest, EachFileFailsWithItsOwnReasonOrItsFoldersReason) {
  const struct {
    Kind kind;
    int error;
    std::string name;
    int reason;  ///< what each file of "fresh" reports
  } cases[] = {
      {Kind::kMkdir, EROFS, "fresh", EROFS},
      {Kind::kMkdir, EACCES, "deep", EACCES},
      // Made, and then it cannot be opened.
      {Kind::kOpen, EMFILE, "fresh", EMFILE},
      // Cut short while it is copied: it changed.
      {Kind::kNone, 0, "", kErrorSourceChanged},
  };
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++number);
    UseCase("reason" + std::to_string(number));
    WriteSrc("fresh/deep/f.txt", std::string(60000, 'f'));
    WriteSrc("fresh/deep/g.txt", std::string(60000, 'g'));
    faults.chunk_limit = 16384;
    if (c.kind == Kind::kNone) {
      // Small and left alone: copied under no lease, which the truncation
      // would break.
      faults.status_age_s = 60;
      faults.before_call = [&](Kind call, const std::string& name) {
        if (call == Kind::kRead && name.ends_with(".txt"))
          std::filesystem::resize_file(Src("fresh/deep/" + name), 1000);
      };
    } else if (c.kind == Kind::kOpen) {
      faults.before_call = [&](Kind call, const std::string& name) {
        if (call == Kind::kMkdir && name == "fresh") {
          faults.before_call = nullptr;
          faults.FailNth(Kind::kOpen, 1, c.error, "fresh");
        }
      };
    } else {
      faults.FailNth(c.kind, 0, c.error, c.name);
    }
    window.failures.clear();
    Go();
    ExpectFailures({"fresh/deep/f.txt", "fresh/deep/g.txt"});
    ASSERT_EQ(window.failures.size(), 2u);
    for (const Failure& failure : window.failures)
      EXPECT_EQ(failure.error, c.reason) << ErrorText(failure.error);
    faults.Heal();
  }
}

TEST_F(ScenarioTest, ASparseFileFailsAloneAndIsCopiedWithItsHolesLater) {
  auto sparse = [&](int seed) {
    WriteSrc("holes.img", "");
    ASSERT_EQ(truncate(Src("holes.img").c_str(), 16 << 20), 0);
    FILE* file = fopen(Src("holes.img").c_str(), "r+");
    for (long offset : {0L, 8L << 20}) {
      fseek(file, offset, SEEK_SET);
      fwrite(Pattern(5000, seed).data(), 1, 5000, file);
    }
    fclose(file);
    testing::SetMtimeNs(Src("holes.img"), 1'600'000'000'000'000'000 + seed);
  };
  // Finding the data, and making the file its length, fail.
  const std::pair<Kind, int> faults_after_open[] = {{Kind::kRead, 1},
                                                    {Kind::kWrite, 3}};
  for (const auto& [kind, nth] : faults_after_open) {
    SCOPED_TRACE(nth);
    UseCase("sparse" + std::to_string(nth));
    WriteSrc("plain.txt", "plain");
    sparse(1);
    Go();
    sparse(2);
    const Files before = TakeFiles(Dst(""));
    faults.before_call = [&, kind = kind, nth = nth](Kind call,
                                                     const std::string& name) {
      if (call != Kind::kOpen || name != "holes.img") return;
      faults.before_call = nullptr;
      faults.FailNth(kind, nth, ENOSPC, kind == Kind::kRead ? "holes" : ".~");
    };
    Go();
    ExpectFailures({"holes.img"});
    ExpectBackup(before, false);
    ExpectRepaired(before);
    struct stat st;
    ASSERT_EQ(stat(Dst("holes.img").c_str(), &st), 0);
    EXPECT_LT(st.st_blocks * 512, 1 << 20);
  }
}

TEST_F(ScenarioTest, KilledInTheMiddleOfACopyThenRunAgain) {
  const Files before = MakeTreeAndEarlierBackup(64 << 20);
  // An unfinished copy of at least `bytes` is in the destination.
  auto copying = [&](uintmax_t bytes = 0) {
    std::error_code e;
    for (const auto& entry : std::filesystem::directory_iterator(Dst(""), e))
      if (IsTempName(entry.path().filename().string()) &&
          (bytes == 0 || (entry.file_size(e) >= bytes && !e)))
        return true;
    return false;
  };
  // Killed in the middle of the big file's copy, until one is left behind.
  // A small file's copy is too short: it is often renamed into place before
  // the kill arrives.
  for (int attempt = 0; attempt < 5 && !copying(); ++attempt) {
    const pid_t child = fork();
    if (child == 0) {
      execl(cli.c_str(), "cli", Src("").c_str(), Dst("").c_str(), nullptr);
      _exit(127);
    }
    // A run that never gets going is killed too, so the test cannot hang.
    const auto give_up =
        std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!copying(1 << 20) && waitpid(child, nullptr, WNOHANG) == 0 &&
           std::chrono::steady_clock::now() < give_up) {
    }
    if (waitpid(child, nullptr, WNOHANG) == 0 && kill(child, SIGKILL) == 0)
      waitpid(child, nullptr, 0);
  }
  ASSERT_TRUE(copying()) << "no run was killed in the middle of a copy";
  ExpectBackup(before, false, /*unfinished=*/1);
  ExpectRepaired(before);  // which removes the unfinished copy
}

TEST_F(ScenarioTest, AFileSizeLimitFailsTheBigFileNotTheRun) {
  WriteSrc("small.txt", "small");
  WriteSrc("big.bin", Pattern(2 << 20, 1));
  // 1 MiB in blocks of 512 bytes, SIGXFSZ as the shell leaves it.
  FILE* out = popen(
      ("ulimit -f 2048; timeout 20 " + cli + " " + Src("") + " " + Dst(""))
          .c_str(),
      "r");
  char line[8192];
  while (fgets(line, sizeof line, out) != nullptr)
    List3().emplace_back(line, strcspn(line, "\n"));
  EXPECT_EQ(WEXITSTATUS(pclose(out)), 1) << "153: killed by SIGXFSZ";
  ExpectFailures({"big.bin"});
  EXPECT_EQ(TakeFiles(Dst("")).size(), 1u);
  ExpectRepaired({});
}

}  // namespace
}  // namespace ferrybox
