// A source tree that changes between the scan and the copy of its files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/reliability/scenario_fixture.h"

namespace ferrybox {
namespace {

using Kind = FaultyPlatform::Kind;

using ChangingSource = ScenarioTest;

// Runs `change` once, just before the first call of `kind` on `name` that
// the run makes after its scan.
void OnFirstCall(FaultyPlatform& faults, Kind kind, const std::string& name,
                 std::function<void()> change) {
  faults.before_call = [&faults, kind, name, change](Kind call,
                                                     const std::string& on) {
    if (call != kind || on != name) return;
    change();
    faults.before_call = nullptr;
  };
}

TEST_F(ChangingSource, AFileRemovedBeforeItsCopyIsReportedOnce) {
  // Before the run looks the file up, and between the lookup and the open.
  for (const Kind moment : {Kind::kStat, Kind::kOpen}) {
    SCOPED_TRACE(FaultyPlatform::KindName(moment));
    UseCase(FaultyPlatform::KindName(moment));
    const Snapshot before = MakeTreeAndEarlierBackup();
    OnFirstCall(faults, moment, "c.txt",
                [&] { ASSERT_EQ(unlink(Src("sub/c.txt").c_str()), 0); });
    Go();
    ExpectClosingLine();
    ExpectFailures({"sub/c.txt"});
    ExpectNoDamage(before);
    EXPECT_EQ(testing::ReadFile(Dst("sub/c.txt")), "gamma");
    ExpectIncrementalRunCompletes();
  }
}

TEST_F(ChangingSource, AFileReplacedByAFolderIsReportedThenItsFilesCopied) {
  for (const Kind moment : {Kind::kStat, Kind::kOpen}) {
    SCOPED_TRACE(FaultyPlatform::KindName(moment));
    UseCase(FaultyPlatform::KindName(moment));
    const Snapshot before = MakeTreeAndEarlierBackup();
    OnFirstCall(faults, moment, "e.txt", [&] {
      ASSERT_EQ(unlink(Src("sub/e.txt").c_str()), 0);
      WriteSrc("sub/e.txt/inside", "now a folder");
    });
    Go();
    ExpectClosingLine();
    ExpectFailures({"sub/e.txt"});
    ExpectNoDamage(before);
    ExpectIncrementalRunCompletes();
    EXPECT_EQ(testing::ReadFile(Dst("sub/e.txt/inside")), "now a folder");
  }
}

TEST_F(ChangingSource, AFolderRemovedDuringTheRunFailsEachOfItsFilesOnce) {
  // Files of the root come before those of any folder. Removed before the
  // run enters the folder, and once it is inside.
  const std::pair<std::string, std::string> moments[] = {{"a.txt", "before"},
                                                         {"", "inside"}};
  for (const auto& [trigger, label] : moments) {
    SCOPED_TRACE(label);
    UseCase(label);
    const Snapshot before = MakeTreeAndEarlierBackup();
    bool removed = false;
    faults.before_call = [&](Kind call, const std::string& name) {
      const bool now = trigger.empty() ? name == "b.txt" || name == "c.txt" ||
                                             name == "e.txt"
                                       : name == trigger;
      if (call != Kind::kStat || !now || removed) return;
      removed = true;
      std::filesystem::remove_all(Src("sub"));
    };
    Go();
    EXPECT_TRUE(removed);
    ExpectClosingLine();
    ExpectFailures({"sub/b.txt", "sub/c.txt", "sub/e.txt", "sub/deeper/d.txt"});
    ExpectNoDamage(before);
    ExpectIncrementalRunCompletes();
  }
}

}  // namespace
}  // namespace ferrybox
