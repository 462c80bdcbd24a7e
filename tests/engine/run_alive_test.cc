// SPDX-License-Identifier: GPL-3.0-or-later
// A run keeps its window alive during the copying: events handled before
// the first file, between the progress updates and while the final flush is
// waited for, and a big file's copy broken off by a stop (the scan is tried
// on the real window, in form1_alive_test). Slowed through the platform:
// every sleep is a lower bound, so the counts do not depend on the machine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "engine/file_copy.h"
#include "engine/flush.h"
#include "platform/scoped_handle.h"
#include "platform/temp_name.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using Kind = testing::FaultyPlatform::Kind;
using std::chrono::milliseconds;

constexpr int64_t kMiB = 1 << 20;

class RunAliveTest : public RunFixture {
 protected:
  RunAliveTest() { UsePlatform(platform); }

  testing::FaultyPlatform platform;
};

TEST_F(RunAliveTest, EventsAreHandledEveryQuarterSecondBetweenProgressUpdates) {
  for (int i = 0; i < 30; ++i) tree.Write("src/f" + std::to_string(i), "x");
  Go();
  // Incremental and unchanged: no file is copied, and each one takes 40 ms
  // to look up in the source and 40 ms in the destination, so 250 ms pass
  // within 4 files.
  platform.before_call = [](Kind kind, const std::string& name) {
    if (kind == Kind::kStat && name.starts_with("f"))
      std::this_thread::sleep_for(milliseconds(40));
  };
  std::string first_handled_at;
  window.on_process_events = [&] {
    // First before file 1, with what the scan held back.
    if (first_handled_at.empty()) first_handled_at = window.phases.back();
    if (Figure(FigureBox::kText3) == "0") return;
    // The figures keep their rhythm of one update per 101 files.
    EXPECT_EQ(Figure(FigureBox::kText5), "0");
    run->Command2_Click();
  };
  Go(/*incremental=*/true);
  EXPECT_EQ(first_handled_at, "copying 30");
  EXPECT_TRUE(run->LastOutcome().stopped);
  EXPECT_GE(run->LastOutcome().files_handled, 1);
  EXPECT_LE(run->LastOutcome().files_handled, 4);
  EXPECT_EQ(run->LastOutcome().files_copied, 0);
}

// src/big (two chunks and a half) replaces an earlier copy; its copy moves a
// sixteenth per call and each call takes 40 ms, so the copy lasts past the
// quarter second after which the run handles events before its last chunk.
// It is the last file.
class BigFileTest : public RunAliveTest {
 protected:
  static constexpr int kChunks = 16;

  BigFileTest() {
    tree.Write("src/big", content);
    tree.Write("dst/big", "earlier copy");
    platform.chunk_limit = content.size() / kChunks;
    platform.before_call = [this](Kind kind, const std::string& name) {
      if (kind != Kind::kWrite || !IsTempName(name)) return;
      ++chunks;
      std::this_thread::sleep_for(milliseconds(40));
    };
  }

  const std::string content = std::string(5 * kCopyChunk / 2, 'n');
  int chunks = 0;
};

TEST_F(BigFileTest,
       AStopOrCloseDuringItsCopyBreaksItOffAndKeepsTheEarlierCopy) {
  // Abandon last: it is never cleared.
  for (const auto& [abandon, first] :
       {std::pair{false, true}, {false, false}, {true, false}}) {
    SCOPED_TRACE(abandon ? "closed" : first ? "stopped first" : "stopped");
    chunks = 0;
    List3().clear();
    if (first) std::filesystem::remove(Dst("big"));
    window.on_process_events = [&] {
      if (Figure(FigureBox::kText3) == "0") return;  // not begun
      abandon ? run->Abandon() : run->Command2_Click();
    };
    Go();
    EXPECT_LT(chunks, kChunks) << "the copy was not broken off";
    // Not a failed copy, and not a copy made; the first has none to keep.
    RunOutcome broken{RunRefusal::kNone, true, 1, 1, 0, 0, {Src("big")}, 0, {}};
    if (first) {
      EXPECT_EQ(testing::Entries(Dst()), std::set<std::string>{});
      broken.abandoned_without_copy = {Src("big")};
      tree.Write("dst/big", "earlier copy");
    } else {
      EXPECT_TRUE(testing::ReadFile(Dst("big")) == "earlier copy");
      EXPECT_EQ(testing::Entries(Dst()), std::set<std::string>{"big"});
    }
    EXPECT_EQ(run->LastOutcome(), broken);
    EXPECT_EQ(Count(List3(), "Finished....in :"), abandon ? 0 : 1);
  }
}

TEST_F(RunAliveTest, AStopWithCopiesInFlightEndsTheSmallOnesAndBreaksOffBig) {
  // "big" is copied slowly, a sixth at a time; the three small files after
  // it are each held once their copy has begun, until the stop comes as
  // the last of the four begins.
  class InFlightPlatform : public testing::FaultyPlatform {
   public:
    std::function<void()> stop;
    int CopyRange(Handle from, Handle to, int64_t size,
                  int64_t* copied) override {
      {
        std::lock_guard lock(mutex);
        if (copies.insert(to).second && copies.size() == 4) {
          stop();
          stopped = true;
        }
      }
      if (size > kMiB) std::this_thread::sleep_for(milliseconds(40));
      for (int wait = 0; size <= kMiB && !stopped && wait < 400; ++wait)
        std::this_thread::sleep_for(milliseconds(5));
      return FaultyPlatform::CopyRange(from, to, std::min(size, 2 * kMiB),
                                       copied);
    }
    std::mutex mutex;
    std::set<Handle> copies;
    std::atomic<bool> stopped{false};
  } slow;
  slow.stop = [this] { run->Command2_Click(); };
  tree.Write("src/big", std::string(12 * kMiB, 'n'));
  tree.Write("dst/big", "earlier copy");
  for (const char* name : {"z/s1", "z/s2", "z/s3"})
    tree.Write(std::string("src/") + name, name);
  UsePlatform(slow, {.copies = 4});
  Go();
  EXPECT_TRUE(slow.stopped);
  // Every copy in flight shown; the broken-off one is no copy made.
  EXPECT_EQ(
      run->LastOutcome(),
      (RunOutcome{RunRefusal::kNone, true, 4, 4, 3, 0, {Src("big")}, 0, {}}));
  EXPECT_TRUE(testing::ReadFile(Dst("big")) == "earlier copy");
  for (const char* name : {"z/s1", "z/s2", "z/s3"})
    EXPECT_EQ(testing::ReadFile(Dst(name)), name);
  for (const std::string& entry : testing::Entries(Dst(), true))
    EXPECT_FALSE(IsTempName(entry.substr(entry.rfind('/') + 1))) << entry;
}

TEST_F(RunAliveTest, AStopBeginsNoCopyHandedOverAndNotYetBegun) {
  // Twelve small copies handed over together to two threads; the stop
  // comes as the first is made. Those already begun end, and are copies
  // made; the others are not begun, nor shown, nor named.
  class StoppingPlatform : public testing::FaultyPlatform {
   public:
    std::function<void()> stop;
    std::atomic<int> copies{0};
    int CopyRange(Handle from, Handle to, int64_t size,
                  int64_t* copied) override {
      if (copies++ == 0) stop();
      return FaultyPlatform::CopyRange(from, to, size, copied);
    }
  } platform;
  platform.stop = [this] { run->Command2_Click(); };
  for (int i = 0; i < 12; ++i) tree.Write("src/f" + std::to_string(i), "new");
  UsePlatform(platform, {.copies = 2});
  Go();
  const RunOutcome outcome = run->LastOutcome();
  EXPECT_TRUE(outcome.stopped);
  EXPECT_LE(platform.copies, 2);
  EXPECT_EQ(outcome.files_copied, platform.copies);
  EXPECT_EQ(outcome.abandoned_files, std::vector<std::string>{});
  EXPECT_EQ(testing::Entries(Dst()).size(),
            static_cast<size_t>(platform.copies));
  EXPECT_EQ(Count(List2(), kNewFile), platform.copies);
}

TEST_F(BigFileTest, AGoDuringItsCopyRunsASecondRunAndTheCopyStillCompletes) {
  bool nested = false;
  window.on_process_events = [&] {
    if (nested || Figure(FigureBox::kText3) == "0") return;
    nested = true;
    run->Command3_Click();
  };
  Go();
  EXPECT_EQ(chunks, 2 * kChunks) << "both runs copy it whole";
  EXPECT_TRUE(testing::ReadFile(Dst("big")) == content);
  EXPECT_EQ(testing::Entries(Dst()), (std::set<std::string>{"big"}));
  for (const Failure& failure : window.failures)
    ADD_FAILURE() << failure.path << ": " << ErrorText(failure.error);
  EXPECT_EQ(Count(List3(), "Finished....in :"), 2);
  EXPECT_EQ(run->LastOutcome().files_handled, 1);
}

TEST(CopyControlTest, IsAskedBeforeEveryChunkButTheLast) {
  testing::TempTree tree;
  tree.Write("source", std::string(20 * kMiB, 'c'));
  Platform& platform = DefaultPlatform();
  ScopedHandle dir(platform);
  ASSERT_EQ(
      platform.Open(kWorkingFolder, tree.root(), OpenMode::kFolder, dir.out()),
      0);
  int asks = 0;
  const CopyControl go_on{[&asks] { return ++asks > 0; }};
  ScopedHandle in(platform);
  FileInfo source;
  ASSERT_EQ(OpenSourceFile(platform, dir.get(), "source", &in, &source), 0);
  CopyResult result;
  EXPECT_EQ(CopyOpenFile(platform, in.get(), source, dir.get(), "copy",
                         /*folder_hands_on=*/false, &result, &go_on),
            0);
  EXPECT_EQ(asks, 2);  // 8 + 8 MiB, and the last 4 MiB are never broken off
  EXPECT_EQ(testing::ReadFile(tree.Path("copy")).size(), 20 * kMiB);
}

/// Holds every flush until released (at most 10 s), and tells when the
/// flush's thread has let go of its handle.
class SlowFlushPlatform : public testing::FaultyPlatform {
 public:
  std::atomic<bool> flushing{false};
  std::atomic<bool> release{false};
  std::atomic<bool> done{false};
  std::atomic<int> flushes{0};
  std::string line_at_flush;  // List3's newest line when the flush began
  std::vector<std::string>* list3 = nullptr;

  int SyncFileSystem(Handle dir) override {
    ++flushes;
    flush_handle_ = dir;
    line_at_flush = list3->empty() ? "" : list3->back();
    flushing = true;
    for (int wait = 0; wait < 1000 && !release; ++wait)
      std::this_thread::sleep_for(milliseconds(10));
    const int error = FaultyPlatform::SyncFileSystem(dir);
    flushing = false;
    return error;
  }
  int Close(Handle handle) override {
    const int error = FaultyPlatform::Close(handle);
    if (handle == flush_handle_) done = true;
    return error;
  }
  bool WaitDone() {
    for (int wait = 0; wait < 1000 && !done; ++wait)
      std::this_thread::sleep_for(milliseconds(10));
    return done;
  }

 private:
  std::atomic<Handle> flush_handle_{kNoHandle};
};

class FlushTest : public RunFixture {
 protected:
  FlushTest() {
    platform.list3 = &List3();
    // One copy at a time: a stop shows no copy begun after file 101.
    UsePlatform(platform, {.clock = [this] { return clock; }, .copies = 1});
  }
  SlowFlushPlatform platform;
  double clock = 0;  // seconds pass only while the flush is waited for
};

TEST_F(FlushTest, FinishedComesOnlyOnceOnDiskAndTheWindowIsServedMeanwhile) {
  for (int i = 0; i < 150; ++i) tree.Write("src/f" + std::to_string(i), "x");
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stopped" : "finished");
    platform.flushes = 0;
    platform.release = false;
    int served = 0;
    clock = 0;
    window.on_process_events = [&] {
      // At the update after file 101 (a slow machine may yield earlier too).
      if (stop && Figure(FigureBox::kText3) == "101") run->Command2_Click();
      if (!platform.flushing) return;
      clock += 25;
      // Released after several rounds of events: the wait does not block.
      if (++served == 4) platform.release = true;
    };
    Go();
    EXPECT_TRUE(platform.WaitDone());
    EXPECT_EQ(platform.flushes, 1);
    EXPECT_GE(served, 4);
    EXPECT_EQ(platform.line_at_flush.find("Finished"), std::string::npos);
    EXPECT_EQ(Figure(FigureBox::kText3), stop ? "101" : "150");
    EXPECT_EQ(List3().back(),
              "Finished....in :" + std::to_string(25 * served) + ".00 seconds");
  }
}

TEST_F(FlushTest, NothingToFlushAfterARefusalOrWithNoDestination) {
  platform.release = true;
  window.text1 = "";
  Go();
  window.text1 = Src("");  // empty: no destination folder is made
  Go();
  EXPECT_EQ(platform.flushes, 0);
  EXPECT_EQ(Count(List3(), "Finished....in :"), 2);
  EXPECT_EQ(Count(List3(), "Error"), 0);
}

TEST_F(FlushTest, AnAbandonedRunDoesNotWaitForItsFlush) {
  tree.Write("src/a", "a");
  window.on_process_events = [&] {
    if (platform.flushing) run->Abandon();
  };
  Go();
  EXPECT_TRUE(platform.flushing);  // still held, yet the run has returned
  EXPECT_EQ(Count(List3(), "Finished"), 0);
  platform.release = true;
  EXPECT_TRUE(platform.WaitDone());
}

}  // namespace
}  // namespace ferrybox
