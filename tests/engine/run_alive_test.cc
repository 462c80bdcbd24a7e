// A run keeps its window alive: served during the scan without user input.
// Slowed through the platform: every sleep is a lower bound, so the counts
// below do not depend on the machine.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/engine/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using Kind = testing::FaultyPlatform::Kind;
using std::chrono::milliseconds;

// Longer than kScanKeepAliveInterval: each listing makes the next one due.
constexpr milliseconds kSlowListing{120};

class RunAliveTest : public RunFixture {
 protected:
  RunAliveTest() { UsePlatform(platform); }

  // Every folder listing of the scan takes kSlowListing; counted in
  // `listings`.
  void SlowListings() {
    platform.before_call = [this](Kind kind, const std::string&) {
      if (kind != Kind::kList || window.phases.back() != "scan") return;
      ++listings;
      std::this_thread::sleep_for(kSlowListing);
    };
  }

  testing::FaultyPlatform platform;
  int listings = 0;
};

TEST_F(RunAliveTest, TheScanKeepsTheWindowAliveFromItsStartWithoutUserInput) {
  for (int i = 0; i < 4; ++i)
    tree.Write("src/d" + std::to_string(i) + "/f", "x");
  // What an earlier run left on show.
  for (std::string& figure : window.figure) figure = "7";
  window.List(ListBox::kList1) = {"old"};
  window.List(ListBox::kList2) = {"old"};
  SlowListings();
  window.on_keep_alive = [&] {
    // Clicks wait: a "Go" or a profile loaded now would cut into the scan.
    EXPECT_EQ(window.process_events_calls, 0);
    if (window.keep_alive_calls > 1) return;
    EXPECT_EQ(listings, 0) << "served before the scan starts";
    EXPECT_EQ(List3().back(), "Please wait...");
    EXPECT_TRUE(window.List(ListBox::kList1).empty());
    EXPECT_TRUE(window.List(ListBox::kList2).empty());
    for (const std::string& figure : window.figure) EXPECT_EQ(figure, "0");
  };
  Go();
  EXPECT_EQ(listings, 5);
  // Once before the scan, then after each slow listing.
  EXPECT_EQ(window.keep_alive_calls, 6);
  EXPECT_EQ(run->LastOutcome().files_copied, 4);
}

TEST_F(RunAliveTest, AStopOrTheWindowClosingDuringTheScanEndsItAtOnce) {
  for (int i = 0; i < 6; ++i)
    tree.Write("src/d" + std::to_string(i) + "/f", "x");
  SlowListings();
  // A stop reaches a scan from a signal (the command-line program's); the
  // window can be closed. Abandon last: it is never cleared.
  for (const bool abandon : {false, true}) {
    SCOPED_TRACE(abandon ? "closed" : "stopped");
    listings = 0;
    List3().clear();
    window.on_keep_alive = [&] {
      if (listings != 2) return;
      abandon ? run->Abandon() : run->Command2_Click();
    };
    Go();
    EXPECT_EQ(listings, 2);
    EXPECT_FALSE(testing::Exists(Dst()));
    RunOutcome outcome;
    outcome.stopped = true;
    EXPECT_EQ(run->LastOutcome(), outcome);
    EXPECT_EQ(Count(List3(), "Finished....in :"), abandon ? 0 : 1);
  }
}

TEST(ScanKeepAliveTest, IsCalledInsideABigFolderAndEndsTheWalkWhenRefused) {
  testing::TempTree tree;
  tree.MakeFolder("src/big");
  for (int i = 0; i < 4100; ++i)
    testing::WriteFile(tree.Path("src/big/" + std::to_string(i)), "");
  // Each entry must be looked up, and every 64th lookup takes 2 ms: 100 ms
  // pass within the first 4096 entries, however fast the listing.
  testing::FaultyPlatform platform;
  platform.hide_entry_types = true;
  int lookups = 0;
  platform.before_call = [&lookups](Kind kind, const std::string&) {
    if (kind == Kind::kStat && ++lookups % 64 == 0)
      std::this_thread::sleep_for(milliseconds(2));
  };
  int calls = 0;
  ScanOptions options;
  options.keep_alive = [&calls] { return ++calls > 1; };
  std::vector<std::string> files;
  std::string folder = tree.Path("src");
  RecursiveDir(platform, files, folder, options);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(files.size(), 4095u) << "ended at the first call";
}

}  // namespace
}  // namespace ferrybox
