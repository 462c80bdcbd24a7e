#include "engine/time_step.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "engine/temp_name.h"
#include "tests/engine/run_fixture.h"
#include "tests/support/image_mount.h"
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

long EntriesIn(const std::string& folder) {
  std::error_code ec;
  return std::distance(std::filesystem::directory_iterator(folder, ec), {});
}

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
  EXPECT_EQ(EntriesIn(window.text2), 7);

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
