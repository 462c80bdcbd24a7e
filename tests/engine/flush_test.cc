// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/flush.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using Kind = testing::FaultyPlatform::Kind;
using std::chrono_literals::operator""ms;

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
      std::this_thread::sleep_for(10ms);
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
      std::this_thread::sleep_for(10ms);
    return done;
  }

 private:
  std::atomic<Handle> flush_handle_{kNoHandle};
};

class FlushTest : public RunFixture {
 protected:
  FlushTest() {
    platform.list3 = &List3();
    UsePlatform(platform, {.clock = [this] { return clock; }});
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
