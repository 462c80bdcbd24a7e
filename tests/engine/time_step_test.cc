// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/time_step.h"

#include <gtest/gtest.h>

#include <tuple>

#include "platform/temp_name.h"
#include "tests/support/image_mount.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::FaultyPlatform;
using testing::ImageMount;

constexpr int64_t kSecond = 1'000'000'000;

/// The system's platform, except that it keeps last-modified times rounded
/// down to `step`, as a coarser file system would.
class RoundingPlatform : public FaultyPlatform {
 public:
  explicit RoundingPlatform(int64_t step) : step_(step) {}
  int Finish(Handle file, uint32_t mode, FileTime atime, FileTime mtime,
             FileTime* stored_mtime) override {
    if (step_ < kSecond) {
      mtime.nanoseconds -= mtime.nanoseconds % step_;
    } else {
      mtime.nanoseconds = 0;
      mtime.seconds -= mtime.seconds % (step_ / kSecond);
    }
    return FaultyPlatform::Finish(file, mode, atime, mtime, stored_mtime);
  }

 private:
  int64_t step_;
};

struct Destination {
  const char* name;
  int64_t step;
  bool image;  // a real file system in an image of `kind`, else simulated
  ImageMount::Kind kind = ImageMount::Kind::kExt4;
  friend void PrintTo(const Destination& d, std::ostream* os) { *os << d.name; }
};

class TimeStepTest : public RunFixture,
                     public ::testing::WithParamInterface<Destination> {};

TEST_P(TimeStepTest, NothingUnchangedIsCopiedAndAFileTouchedOneStepLaterIs) {
  const Destination& destination = GetParam();
  std::string why_not;
  std::unique_ptr<ImageMount> mount;
  if (destination.image) {
    mount = ImageMount::Create(destination.kind, tree.root(), &why_not);
    if (!mount) GTEST_SKIP() << "cannot mount the image: " << why_not;
    window.text2 = mount->path() + "/backup";
  }
  RoundingPlatform platform(destination.image ? kExactTimes : destination.step);
  int set_times = 0;  // on probes and copies, not on folders
  platform.before_call = [&](FaultyPlatform::Kind kind,
                             const std::string& name) {
    if (kind == FaultyPlatform::Kind::kSetTimes && IsTempName(name))
      ++set_times;
  };
  UsePlatform(platform);
  // Six files in src and six in src/sub, with times that have a part below
  // the second, on odd and even seconds.
  for (int i = 0; i < 12; ++i)
    testing::SetMtimeNs(
        tree.Write((i < 6 ? "src/f" : "src/sub/f") + std::to_string(i),
                   std::string(i, 'x')),
        1'700'000'000 * kSecond + int64_t{i} * 370'123'457);
  Go();
  ASSERT_EQ(Figure(FigureBox::kText4), "12");
  // One probe a run on a coarse destination, two times asked; none on an
  // exact one, and nothing of it left behind.
  const int asked = set_times;
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
  EXPECT_EQ(set_times - asked, destination.step == kExactTimes ? 0 : 2);
  EXPECT_EQ(testing::Entries(window.text2).size(), 7u);

  testing::SetMtimeNs(Src("f3"),
                      testing::MtimeNs(Src("f3")) + destination.step);
  Go(true);
  EXPECT_EQ(List2().at(1), "Different File, Updating=" + window.text2 + "/f3");
  EXPECT_EQ(Figure(FigureBox::kText4), "1");
  EXPECT_EQ(Count(List3(), "Error"), 0);
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
  UsePlatform(DefaultPlatform());  // before `platform` goes
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, TimeStepTest,
    ::testing::Values(
        Destination{"Simulated100ns", 100, false},
        Destination{"Simulated2s", 2 * kSecond, false},
        Destination{"SimulatedExact", kExactTimes, false},
        Destination{"exFAT", kSecond, true, ImageMount::Kind::kExfat},
        Destination{"FAT32", 2 * kSecond, true, ImageMount::Kind::kFat32},
        Destination{"ext4", kExactTimes, true, ImageMount::Kind::kExt4}),
    ::testing::PrintToStringParamName());

TEST(SameTimeAtStepTest, ExactlyOneStepApartIsAChangeAndLessIsNot) {
  // On a 2 s boundary, as FAT keeps every time; before 1970; in 2400.
  const FileTime even{1'700'000'000, 0};
  const FileTime before_1970{-2'000'000'000, 0};
  const FileTime far{13'569'465'600, 0};
  const struct {
    const char* what;
    FileTime a;
    int64_t step;
  } table[] = {{"2s", even, 2 * kSecond},
               {"1s", even, kSecond},
               {"100ns", {7, 300}, 100},
               {"exact", {7, 300}, kExactTimes},
               {"before 1970", before_1970, 2 * kSecond},
               {"across 1970", {-1, 0}, 2 * kSecond},
               {"2400", far, 2 * kSecond}};
  for (const auto& row : table) {
    for (const int64_t apart :
         {row.step, -row.step, row.step - 1, 1 - row.step}) {
      SCOPED_TRACE(std::string(row.what) + " " + std::to_string(apart));
      const FileTime b = AddNanoseconds(row.a, apart);
      const bool same = apart != row.step && apart != -row.step;
      EXPECT_EQ(SameTimeAtStep(row.a, b, row.step), same);
      EXPECT_EQ(SameTimeAtStep(b, row.a, row.step), same);
    }
  }
  // Centuries apart, beyond what a count of nanoseconds holds.
  EXPECT_FALSE(SameTimeAtStep(
      before_1970, {before_1970.seconds + 20'000'000'000, 0}, 2 * kSecond));
  EXPECT_FALSE(SameTimeAtStep({INT64_MIN, 0}, {INT64_MAX, 0}, 2 * kSecond));
}

TEST(StepOfRoundingTest, AStoredTimeOneStepAwayNeedsTheNextStep) {
  const FileTime even{1'700'000'000, 0};
  const FileTime odd{1'700'000'001, 0};
  const auto at = [](FileTime t, int64_t ns) { return AddNanoseconds(t, ns); };
  // requested, stored, step
  const std::tuple<FileTime, FileTime, int64_t> table[] = {
      {even, even, kExactTimes},
      {at(even, kSecond - 1), even, kSecond},
      {at(even, kSecond), even, 2 * kSecond},   // one whole second: not 1 s
      {at(even, -kSecond + 1), even, kSecond},  // rounded up
      {at(even, 2 * kSecond - 1), even, 2 * kSecond},
      {at(even, 2 * kSecond), even, 0},  // two whole seconds: no rounding
      {at(odd, kSecond), odd, 0},        // odd: never kept at 2 s
      {at(even, 100), at(even, 0), 1'000},
      {at(even, 99), at(even, 0), 100},
  };
  for (const auto& [requested, stored, step] : table)
    EXPECT_EQ(StepOfRounding(requested, stored), step)
        << requested.seconds << "." << requested.nanoseconds << " kept as "
        << stored.seconds << "." << stored.nanoseconds;
}

TEST(TimeStepsTest, WithoutAProbeTheLargestStepCopiesNeededIsKept) {
  FaultyPlatform platform;
  platform.fail_kind = FaultyPlatform::Kind::kOpen;
  platform.fail_error = EROFS;  // the probe's file cannot be made
  TimeSteps steps(platform);
  const FileTime t{1'700'000'000, 0};
  const auto at = [&](int64_t ns) { return AddNanoseconds(t, ns); };
  steps.Learn(8, at(10'000'005), at(10'000'000));
  steps.Learn(8, at(999'000'000), t);
  steps.Learn(8, at(7200 * kSecond), t);  // not rounding: ignored
  EXPECT_EQ(steps.Step(8, kWorkingFolder), kSecond);
  EXPECT_EQ(steps.Step(9, kWorkingFolder), kExactTimes);
  EXPECT_EQ(platform.failures, 2);  // one probe each
}

}  // namespace
}  // namespace ferrybox
