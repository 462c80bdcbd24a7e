// SPDX-License-Identifier: GPL-3.0-or-later
// Runs that read files ahead on threads show and copy exactly what runs that
// read each file in its turn do.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include "platform/temp_name.h"
#include "tests/support/child_process.h"
#include "tests/support/other_user.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using Kind = testing::FaultyPlatform::Kind;
using std::chrono::milliseconds;

// Everything a run showed, with the destination's name made common.
struct Shown {
  std::vector<std::string> lists[3];
  std::string figures[3];  // files handled, files copied, megabytes
  std::string log;
  std::vector<std::string> failures;
  friend bool operator==(const Shown&, const Shown&) = default;
};

// Stats of the files in `order` wait, as on a slow disk; the calls in
// progress at once, how far ahead of the run each one was, and those the
// run's own thread made are recorded.
class SlowStatPlatform : public testing::FaultyPlatform {
 public:
  milliseconds delay{0};
  // Collection order of the files, by name; the files the run has started.
  std::map<std::string, int64_t> order;
  std::atomic<int64_t>* handled = nullptr;
  std::atomic<int> in_flight{0}, most_in_flight{0};
  std::atomic<int64_t> farthest_ahead{0};
  std::thread::id run_thread = std::this_thread::get_id();
  std::atomic<int> run_thread_reads{0};

  int Stat(Handle dir, const std::string& name, bool follow_link,
           FileInfo* info) override {
    const auto it = order.find(name);
    if (it != order.end()) {
      if (std::this_thread::get_id() == run_thread) ++run_thread_reads;
      const int now = ++in_flight;
      for (int most = most_in_flight; now > most;)
        most_in_flight.compare_exchange_weak(most, now);
      const int64_t ahead = it->second - (handled ? handled->load() : 0);
      for (int64_t far = farthest_ahead; ahead > far;)
        farthest_ahead.compare_exchange_weak(far, ahead);
      std::this_thread::sleep_for(delay);
      --in_flight;
    }
    return FaultyPlatform::Stat(dir, name, follow_link, info);
  }
};

// A window whose count of files started may be read from any thread.
class CountingWindow : public testing::MemoryWindow {
 public:
  std::atomic<int64_t> handled{0};
  void FileStarted(const RunProgress& progress) override {
    MemoryWindow::FileStarted(progress);
    handled = progress.files_handled;
  }
};

class LookAheadTest : public RunFixture {
 protected:
  // What a run from src into `destination` with `depth`, making `copies`
  // copies at once, showed.
  Shown RunInto(const std::string& destination, int depth, bool incremental,
                size_t copies = 1) {
    window.text2 = Dst(destination);
    for (auto& list : window.list) list.clear();
    window.failures.clear();
    UsePlatform(*run_platform, {.look_ahead = depth, .copies = copies});
    Go(incremental);
    Shown shown;
    const std::string root = Dst(destination);
    auto common = [&](std::string line) {
      for (size_t at; (at = line.find(root)) != std::string::npos;)
        line.replace(at, root.size(), "DST");
      return line;
    };
    for (int list = 0; list < 3; ++list)
      for (const std::string& line : window.list[list])
        if (!line.starts_with("Starting copy: ") &&
            !line.starts_with("Finished....in :"))
          shown.lists[list].push_back(common(line));
    for (int box = 0; box < 3; ++box) shown.figures[box] = window.figure[box];
    shown.log = common(CopyLog());
    for (const Failure& failure : window.failures)
      shown.failures.push_back(common(failure.path) + " " +
                               std::to_string(failure.error));
    return shown;
  }
};

// A depth read ahead, and a number of copies in flight at once.
class EveryDepth
    : public LookAheadTest,
      public ::testing::WithParamInterface<std::pair<int, size_t>> {};

TEST_P(EveryDepth, AndCopiesAtOnceShowAndCopyWhatOneAtATimeDoes) {
  const auto [depth, copies] = GetParam();
  const std::string name = std::to_string(depth);
  // Enough files for two figure updates, in several folders, with links,
  // further names of one file and names that clash where case is ignored;
  // then changes of every kind an incremental run meets.
  for (int i = 0; i < 230; ++i)
    tree.Write("src/" + std::string(i % 3 ? "a/" : "") + (i % 7 ? "" : "b/c/") +
                   "f" + std::to_string(i),
               std::string(i % 11, 'x'));
  ASSERT_EQ(symlink("f1", Src("link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", Src("a/dangling").c_str()), 0);
  for (const char* name : {"h1", "a/h2", "b/c/h3"})
    ASSERT_EQ(link(Src("a/f2").c_str(), Src(name).c_str()), 0);
  tree.Write("src/cc/Name", "upper");
  tree.Write("src/cc/name", "lower");
  const std::string destinations[] = {"ref", "d" + name};
  testing::CaseFoldingPlatform folding;
  for (const std::string& dst : destinations) {
    std::filesystem::create_directories(Dst(dst + "/cc"));
    folding.FoldIn(Dst(dst + "/cc"));
  }
  UsePlatform(folding);
  const Shown full = RunInto("ref", 0, false);
  EXPECT_TRUE(RunInto("d" + name, depth, false, copies) == full);
  tree.Write("src/a/f1", "longer than before");
  tree.Write("src/new/g", "new folder");
  std::filesystem::remove(Src("link"));
  ASSERT_EQ(symlink("f2", Src("link").c_str()), 0);
  for (const std::string& dst : destinations) {
    std::filesystem::remove(Dst(dst + "/f3"));
    std::filesystem::remove(Dst(dst + "/a/f5"));
    std::filesystem::create_directory(Dst(dst + "/a/f5"));  // no copy fits
    std::filesystem::last_write_time(
        Dst(dst + "/f6"), std::filesystem::file_time_type::clock::now());
  }

  const Shown incremental = RunInto("ref", 0, true);
  const Shown over = RunInto("ref", 0, false);
  // The folder in the way, and the name that loses to its other spelling.
  EXPECT_EQ(Count(over.lists[2], kCopyErrorPrefix), 2);
  EXPECT_EQ(Count(incremental.lists[2], kCopyErrorPrefix), 2);
  EXPECT_EQ(incremental.figures[1], "7");
  EXPECT_TRUE(RunInto("d" + name, depth, true, copies) == incremental);
  // Over the earlier backup, where a folder stands in one file's way.
  EXPECT_TRUE(RunInto("d" + name, depth, false, copies) == over);
  EXPECT_EQ(
      testing::ChildProcess("/usr/bin/diff", {"-r", "--no-dereference",
                                              Dst("ref"), Dst("d" + name)})
          .Finish(),
      0);
  for (const std::string& entry : testing::Entries(Dst(), true))
    EXPECT_FALSE(IsTempName(entry.substr(entry.rfind('/') + 1))) << entry;
}

INSTANTIATE_TEST_SUITE_P(LookAheadTest, EveryDepth,
                         ::testing::Values(std::pair<int, size_t>{1, 1},
                                           std::pair<int, size_t>{3, 4},
                                           std::pair<int, size_t>{64, 4}),
                         [](const auto& info) {
                           return "Depth" + std::to_string(info.param.first) +
                                  "Copies" +
                                  std::to_string(info.param.second);
                         });

TEST_F(LookAheadTest, WaitingOverlapsAndStaysWithinItsDepth) {
  constexpr int kFiles = 40, kDepth = 4;
  for (int i = 0; i < kFiles; ++i) tree.Write("src/f" + std::to_string(i), "x");
  // The collection order, from a run that shows every file.
  window.check[0] = 1;
  RunInto("order", 0, false);
  SlowStatPlatform slow;
  int64_t index = 0;
  for (const std::string& line : window.list[0])
    slow.order[line.substr(line.rfind('/') + 1)] = ++index;
  ASSERT_EQ(index, kFiles);
  CountingWindow counting;
  counting.text1 = window.text1;
  counting.text2 = Dst("slow");
  slow.handled = &counting.handled;
  slow.delay = milliseconds(10);
  MessageLists counting_lists(counting);
  // One copy at a time: the run decides no file ahead of the one shown.
  BackupRun slow_run(counting, counting_lists, slow, Program(),
                     {.look_ahead = kDepth, .copies = 1});
  slow_run.Command3_Click();
  EXPECT_EQ(counting.figure[1], std::to_string(kFiles));
  EXPECT_GE(slow.most_in_flight, 2) << "the waits did not overlap";
  // File n may be read while the run is at file n - depth at the earliest.
  EXPECT_LE(slow.farthest_ahead, kDepth);
  EXPECT_GE(slow.farthest_ahead, 2);
}

TEST_F(LookAheadTest, FilesChangedBeforeTheirTurnAreCopiedAsTheyAreThen) {
  // The run is held at its first file until the others' statuses were read
  // ahead; then one file goes and another is rewritten.
  tree.Write("src/first", "x");
  for (int i = 0; i < 20; ++i)
    tree.Write("src/sub/f" + std::to_string(i), "old");
  class HoldingPlatform : public testing::FaultyPlatform {
   public:
    bool held = false, reads_ahead = false;
    std::function<void()> on_hold;
    int Open(Handle dir, const std::string& name, OpenMode mode,
             Handle* out) override {
      if (name == "first" && !held) {
        held = true;
        for (int wait = 0;
             reads_ahead && !StatusesRead("f7", "f9") && wait < 500; ++wait)
          std::this_thread::sleep_for(milliseconds(10));
        on_hold();
      }
      return FaultyPlatform::Open(dir, name, mode, out);
    }
    bool StatusesRead(const std::string& a, const std::string& b) const {
      const std::vector<std::string> made = calls();
      return std::ranges::count(made, "stat " + a) > 0 &&
             std::ranges::count(made, "stat " + b) > 0;
    }
  };
  std::map<int, Shown> shown;
  for (const int depth : {0, 64}) {
    SCOPED_TRACE(depth);
    tree.Write("src/sub/f7", "old");
    tree.Write("src/sub/f9", "old");
    HoldingPlatform platform;
    platform.reads_ahead = depth > 0;
    platform.on_hold = [&] {
      std::filesystem::remove(Src("sub/f7"));
      tree.Write("src/sub/f9", "rewritten");
    };
    UsePlatform(platform);
    const std::string dst = "d" + std::to_string(depth);
    shown[depth] = RunInto(dst, depth, false);
    EXPECT_TRUE(platform.held);
    EXPECT_FALSE(std::filesystem::exists(Dst(dst + "/sub/f7")));
    EXPECT_EQ(testing::ReadFile(Dst(dst + "/sub/f9")), "rewritten");
  }
  EXPECT_EQ(Count(shown[0].lists[2], kCopyErrorPrefix), 1);
  EXPECT_TRUE(shown[64] == shown[0]);
}

// Each copy's temporary file stays a moment; the most found at once is
// recorded, and where `full`, a copy that finds another's has no room.
class InFlightPlatform : public testing::FaultyPlatform {
 public:
  std::string folder;
  bool full = false;
  std::atomic<size_t> most_at_once{0};

  int CreateFile(Handle dir, const std::string& name, uint32_t bits,
                 Handle* out, FileInfo* made) override {
    if (!IsTempName(name))
      return FaultyPlatform::CreateFile(dir, name, bits, out, made);
    {
      std::lock_guard lock(mutex_);
      size_t at_once = 1;
      for (const std::string& entry : testing::Entries(folder))
        if (IsTempName(entry)) ++at_once;
      if (full && at_once > 1) return ENOSPC;
      const int error = FaultyPlatform::CreateFile(dir, name, bits, out, made);
      if (error != 0) return error;
      most_at_once = std::max<size_t>(most_at_once, at_once);
    }
    std::this_thread::sleep_for(milliseconds(20));
    return 0;
  }

 private:
  std::mutex mutex_;
};

TEST_F(LookAheadTest, CopiesInFlightOverlapAndADiskWithRoomForOneFailsTheRest) {
  constexpr int kFiles = 12;
  auto content = [](int i) { return "f" + std::to_string(i); };
  for (int i = 0; i < kFiles; ++i) tree.Write("src/" + content(i), "earlier");
  Go();
  int round = 0;
  for (const bool full : {false, true}) {
    for (const size_t copies : {1u, 4u}) {
      SCOPED_TRACE(::testing::Message() << full << " " << copies);
      const std::string now = "round " + std::to_string(++round);
      std::map<int, std::string> earlier;
      for (int i = 0; i < kFiles; ++i) {
        earlier[i] = testing::ReadFile(Dst(content(i)));
        tree.Write("src/" + content(i), now);
      }
      InFlightPlatform platform;
      platform.folder = Dst();
      platform.full = full;
      window.failures.clear();
      List3().clear();
      UsePlatform(platform, {.copies = copies});
      Go();
      const int failed = Count(List3(), kCopyErrorPrefix);
      EXPECT_EQ(platform.most_at_once > 1, copies > 1 && !full) << "overlap";
      // One copy at a time always has room for its own; with more in
      // flight each that finds none fails, with its reason, and keeps the
      // earlier copy.
      EXPECT_EQ(failed > 0, copies > 1 && full);
      EXPECT_EQ(window.failures.size(), static_cast<size_t>(failed));
      for (const Failure& failure : window.failures)
        EXPECT_EQ(failure.error, ENOSPC) << failure.path;
      int kept = 0;
      for (int i = 0; i < kFiles; ++i) {
        const std::string copy = testing::ReadFile(Dst(content(i)));
        EXPECT_TRUE(copy == now || copy == earlier[i]) << i;
        kept += copy != now;
      }
      EXPECT_EQ(kept, failed);
      EXPECT_EQ(Figure(FigureBox::kText4), std::to_string(kFiles));
      for (const std::string& entry : testing::Entries(Dst()))
        EXPECT_FALSE(IsTempName(entry)) << entry;
    }
  }
}

TEST_F(LookAheadTest, AFileChangedAfterItsDecisionIsCopiedAsItIsWhenCopied) {
  // Once the run has opened "grows" and "goes" for their copies, the one is
  // rewritten longer and the other deleted.
  for (int i = 0; i < 8; ++i) tree.Write("src/f" + std::to_string(i), "same");
  class ChangingPlatform : public testing::FaultyPlatform {
   public:
    std::function<void(const std::string&)> change;
    int Open(Handle dir, const std::string& name, OpenMode mode,
             Handle* out) override {
      const int error = FaultyPlatform::Open(dir, name, mode, out);
      if (error == 0 && mode == OpenMode::kReadFile &&
          (name == "grows" || name == "goes")) {
        std::lock_guard lock(mutex_);
        opened_[*out] = name;
      }
      return error;
    }
    int Stat(Handle dir, const std::string& name, bool follow_link,
             FileInfo* info) override {
      // The copy reads the status of the file it has open.
      std::string opened;
      if (name.empty()) {
        std::lock_guard lock(mutex_);
        if (auto it = opened_.find(dir); it != opened_.end()) {
          opened = it->second;
          opened_.erase(it);
        }
      }
      if (!opened.empty()) change(opened);
      return FaultyPlatform::Stat(dir, name, follow_link, info);
    }

   private:
    std::mutex mutex_;
    std::map<Handle, std::string> opened_;
  };
  std::map<size_t, Shown> shown;
  for (const size_t copies : {1u, 4u}) {
    SCOPED_TRACE(copies);
    tree.Write("src/grows", "old");
    tree.Write("src/goes", "old");
    ChangingPlatform platform;
    platform.change = [&](const std::string& name) {
      if (name == "goes") std::filesystem::remove(Src("goes"));
      if (name == "grows") tree.Write("src/grows", "rewritten, longer");
    };
    UsePlatform(platform);
    const std::string dst = "c" + std::to_string(copies);
    shown[copies] = RunInto(dst, 0, false, copies);
    EXPECT_EQ(testing::ReadFile(Dst(dst + "/grows")), "rewritten, longer");
    // Open when it went: its copy is of the file as it was.
    EXPECT_EQ(testing::ReadFile(Dst(dst + "/goes")), "old");
  }
  EXPECT_EQ(Count(shown[1].lists[2], kCopyErrorPrefix), 0);
  EXPECT_TRUE(shown[4] == shown[1]);
}

TEST_F(LookAheadTest, AStopLeavesExactlyTheCopiesWhoseLinesWereShown) {
  for (int i = 0; i < 30; ++i)
    tree.Write("src/f" + std::to_string(i), std::string(100, 'x'));
  for (const int depth : {0, 64}) {
    SCOPED_TRACE(depth);
    // The stop comes as the tenth copy begins: that small copy ends.
    testing::FaultyPlatform platform;
    int copies = 0;
    platform.before_call = [&](Kind kind, const std::string& name) {
      if (kind == Kind::kOpen && IsTempName(name) && ++copies == 10)
        run->Command2_Click();
    };
    UsePlatform(platform);
    const std::string dst = "stop" + std::to_string(depth);
    RunInto(dst, depth, false);
    EXPECT_TRUE(run->LastOutcome().stopped);
    std::set<std::string> shown;
    for (const std::string& line : List2())
      if (line.starts_with(kNewFile + Dst(dst) + "/"))
        shown.insert(line.substr(line.rfind('/') + 1));
    EXPECT_EQ(testing::Entries(Dst(dst)), shown);
    EXPECT_GE(shown.size(), 9u);  // a folder's probe may come first
    EXPECT_LT(shown.size(), 30u);
  }
}

TEST_F(LookAheadTest, AProcessThatCannotStartThreadsReadsEachFileInItsTurn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  for (int i = 0; i < 30; ++i) tree.Write("src/f" + std::to_string(i), "x");
  // Root's files just written look left alone: they cannot be leased.
  testing::FaultyPlatform platform;
  platform.status_age_s = 10;
  UsePlatform(platform, {.look_ahead = 64});
  for (const std::string& path : {tree.root(), Program()})
    ASSERT_EQ(chown(path.c_str(), testing::kOtherUser, testing::kOtherUser), 0);
  const bool backed_up = testing::AsOtherUser([&] {
    // Not one more process or thread for this user.
    const rlimit none{1, 1};
    if (setrlimit(RLIMIT_NPROC, &none) != 0) return false;
    Go();
    return Count(List3(), kCopyErrorPrefix) == 0 &&
           List3().back().starts_with("Finished....in :");
  });
  EXPECT_TRUE(backed_up);
  EXPECT_EQ(testing::Entries(Dst()).size(), 30u);
}

TEST_F(LookAheadTest, StopWhileWaitingForAFileReadAheadEndsTheRun) {
  for (int i = 0; i < 10; ++i) tree.Write("src/f" + std::to_string(i), "x");
  SlowStatPlatform slow;
  for (int i = 0; i < 10; ++i) slow.order["f" + std::to_string(i)] = i;
  slow.delay = milliseconds(400);  // longer than events wait
  UsePlatform(slow, {.look_ahead = 2});
  // Not at the events handled before file 1: while the run waits for it.
  window.on_process_events = [this] {
    if (window.process_events_calls > 1) run->Command2_Click();
  };
  Go();
  EXPECT_EQ(run->LastOutcome(),
            (RunOutcome{RunRefusal::kNone, true, 10, 0, 0, 0, {}, 0, {}}));
  EXPECT_TRUE(List3().back().starts_with("Finished....in :"));
  EXPECT_TRUE(!std::filesystem::exists(Dst()) ||
              std::filesystem::is_empty(Dst()));
  EXPECT_EQ(slow.open_handles(), 0u);
}

TEST_F(LookAheadTest, AFailedReadAheadIsReadAgainInItsTurn) {
  for (int i = 0; i < 10; ++i) {
    tree.Write("src/f" + std::to_string(i), "x");
    tree.Write("src/sub/g" + std::to_string(i), "x");
  }
  Go();
  testing::FaultyPlatform faults;
  UsePlatform(faults, {.look_ahead = 8});
  const std::thread::id run_thread = std::this_thread::get_id();
  // The nth read of a file fails (its source's, then its destination's), or
  // (0) a folder the threads reading ahead cannot open. Read again in their
  // turn, all find what is there.
  const std::tuple<Kind, int, const char*> cases[] = {
      {Kind::kStat, 1, "f7"}, {Kind::kStat, 2, "f7"}, {Kind::kOpen, 0, "sub"}};
  for (const auto& [call, nth, file] : cases) {
    SCOPED_TRACE(file + std::to_string(nth));
    faults.failures = 0;
    if (nth > 0) faults.FailNth(call, nth, EIO, file);
    faults.before_call = [&](Kind kind, const std::string& name) {
      if (nth == 0 && kind == call && name == file &&
          std::this_thread::get_id() != run_thread && faults.failures == 0)
        faults.FailNth(call, 1, EIO, file);
    };
    List2().clear();
    Go(true);
    EXPECT_EQ(faults.failures, 1);
    EXPECT_EQ(Count(List3(), kCopyErrorPrefix), 0);
    EXPECT_EQ(List2(), (std::vector<std::string>{kCheckingFolder + Dst(),
                                                 kCheckingFolder + Dst("sub")}))
        << "a file read as missing was copied";
  }
}

TEST_F(LookAheadTest, ARunReadsEveryFileAheadAsTheEnvironmentSays) {
  const char* set = std::getenv("FERRYBOX_LOOK_AHEAD");
  const std::string before = set ? set : "";
  // More folders at once than the threads keep open, at every depth.
  for (const char* folder : {"a", "a/b", "a/b/c", "a/b/c/d", "a/e", "a/e/k",
                             "g", "g/h", "g/h/i", "j"})
    for (int i = 0; i < 3; ++i)
      tree.Write("src/" + std::string(folder) + "/f" + std::to_string(i), "x");
  Go();
  const std::pair<const char*, int> cases[] = {{"0", 0},    {"12", 12},
                                               {"", 256},   {"x", 256},
                                               {"-3", 256}, {"99999", 4096}};
  for (const auto& [text, depth] : cases) {
    SCOPED_TRACE(text);
    setenv("FERRYBOX_LOOK_AHEAD", text, 1);
    EXPECT_EQ(DefaultLookAhead(), depth);
    // A run made now reads every file's status on a thread of its own,
    // unless it reads none ahead.
    SlowStatPlatform platform;
    for (int i = 0; i < 3; ++i) platform.order["f" + std::to_string(i)] = 0;
    UsePlatform(platform);
    Go(true);
    UsePlatform(DefaultPlatform());  // before `platform` goes
    EXPECT_EQ(Figure(FigureBox::kText3), "30");
    EXPECT_EQ(platform.run_thread_reads > 0, depth == 0);
  }
  if (set) setenv("FERRYBOX_LOOK_AHEAD", before.c_str(), 1);
  if (!set) unsetenv("FERRYBOX_LOOK_AHEAD");
}

}  // namespace
}  // namespace ferrybox
