#include "engine/time_step.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <vector>

#include "engine/scoped_handle.h"
#include "tests/engine/run_fixture.h"
#include "tests/support/image_mount.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::FaultyPlatform;
using testing::ImageMount;
using testing::MtimeNs;
using testing::SetMtimeNs;

constexpr int64_t kSecond = 1'000'000'000;
constexpr int64_t kMilli = 1'000'000;

/// The system's platform on an exact file system, except that it keeps
/// last-modified times at `step` the way `rounding` says, as a coarser file
/// system would, and, with `stamps_renames`, stamps a renamed file with the
/// time of the rename, as FAT through FUSE does. Counts the times it was
/// asked to keep.
class RoundingPlatform : public FaultyPlatform {
 public:
  enum class Rounding { kDown, kUp, kNearest, kIgnoresTimes };

  RoundingPlatform(int64_t step, Rounding rounding)
      : step_(step), rounding_(rounding) {}

  int Finish(Handle file, uint32_t mode, int64_t atime_ns, int64_t mtime_ns,
             int64_t* stored_mtime_ns) override {
    ++finishes;
    return FaultyPlatform::Finish(file, mode, atime_ns, Kept(mtime_ns),
                                  stored_mtime_ns);
  }
  int SetTimes(Handle dir, const std::string& name, int64_t atime_ns,
               int64_t mtime_ns, int64_t* stored_mtime_ns) override {
    ++set_times;
    return FaultyPlatform::SetTimes(dir, name, atime_ns, Kept(mtime_ns),
                                    stored_mtime_ns);
  }
  int Rename(Handle dir, const std::string& from,
             const std::string& to) override {
    const int error = FaultyPlatform::Rename(dir, from, to);
    if (error == 0 && stamps_renames) {
      struct timespec times[2];
      times[0].tv_nsec = UTIME_OMIT;
      times[1].tv_sec = Kept(rename_time_ns) / kSecond;
      times[1].tv_nsec = Kept(rename_time_ns) % kSecond;
      utimensat(dir, to.c_str(), times, 0);
    }
    return error;
  }

  bool stamps_renames = false;
  int64_t rename_time_ns = 0;
  int finishes = 0;
  int set_times = 0;

 private:
  int64_t Kept(int64_t mtime_ns) const {
    const int64_t down = mtime_ns - mtime_ns % step_;
    const int64_t rest = mtime_ns - down;
    if (rounding_ == Rounding::kUp && rest > 0) return down + step_;
    if (rounding_ == Rounding::kNearest && 2 * rest >= step_)
      return down + step_;
    if (rounding_ == Rounding::kIgnoresTimes) return 1'234'567'890'123'456'789;
    return down;
  }

  int64_t step_;
  Rounding rounding_;
};

int EntriesIn(const std::string& folder) {
  int entries = 0;
  DIR* dir = opendir(folder.c_str());
  while (dirent* entry = dir ? readdir(dir) : nullptr) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") ++entries;
  }
  if (dir) closedir(dir);
  return entries;
}

int Count(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<int>(std::count_if(
      lines.begin(), lines.end(),
      [&](const std::string& line) { return line.starts_with(prefix); }));
}

TEST(TimeStepRounding, ExplainsADifferenceByTheSmallestFittingStep) {
  const int64_t t = 1'700'000'000 * kSecond;  // an even second
  EXPECT_EQ(StepOfRounding(t + 123'456'789, t + 123'456'789), kExactTimes);
  EXPECT_EQ(StepOfRounding(t + 123'456'789, t + 123'456'700), 100);
  EXPECT_EQ(StepOfRounding(t + 123'456'789, t + 123'456'000), 1'000);
  EXPECT_EQ(StepOfRounding(t + 123'456'789, t + 120 * kMilli), 10 * kMilli);
  EXPECT_EQ(StepOfRounding(t + kSecond + 123'456'789, t + kSecond), kSecond);
  // Kept on an even second half a second away: 1 s explains it as well as
  // 2 s does, so a single copy only shows the smaller.
  EXPECT_EQ(StepOfRounding(t + 500 * kMilli, t), kSecond);
  EXPECT_EQ(StepOfRounding(t + kSecond + 300 * kMilli, t), 2 * kSecond);
  EXPECT_EQ(StepOfRounding(t + 100 * kMilli, t + 2 * kSecond), 2 * kSecond);
  // Shifted by an hour, or kept off every step: not rounding.
  EXPECT_EQ(StepOfRounding(t, t + 3600 * kSecond), 0);
  EXPECT_EQ(StepOfRounding(t, t + 3), 0);
}

TEST(TimeStepRounding, SameTimeIsExactOrWithinOneStepEitherWay) {
  const int64_t t = 1'700'000'001 * kSecond + 999'999'999;
  EXPECT_TRUE(SameTimeAtStep(t, t, kExactTimes));
  EXPECT_FALSE(SameTimeAtStep(t, t + 1, kExactTimes));
  EXPECT_FALSE(SameTimeAtStep(t + 1, t, kExactTimes));
  const int64_t kept = t - 1'999'999'999;  // FAT rounded down
  EXPECT_TRUE(SameTimeAtStep(t, kept, 2 * kSecond));
  EXPECT_TRUE(SameTimeAtStep(kept, t, 2 * kSecond));
  EXPECT_FALSE(SameTimeAtStep(t + 1, kept, 2 * kSecond));
  EXPECT_FALSE(SameTimeAtStep(t, kept, kSecond));
  EXPECT_FALSE(SameTimeAtStep(INT64_MIN, INT64_MAX, 2 * kSecond));
  EXPECT_FALSE(SameTimeAtStep(INT64_MAX, INT64_MIN, 2 * kSecond));
}

class TimeStepProbe : public ::testing::Test {
 protected:
  TimeStepProbe() { tree.MakeFolder("dst"); }

  int Probe(Platform& platform, int64_t* step) {
    ScopedHandle folder(platform);
    EXPECT_EQ(platform.Open(kWorkingFolder, tree.Path("dst"), OpenMode::kFolder,
                            folder.out()),
              0);
    return ProbeTimeStep(platform, folder.get(), step);
  }

  testing::TempTree tree;
};

TEST_F(TimeStepProbe, TellsEveryStepWhicheverWayItRoundsAndLeavesNothing) {
  using R = RoundingPlatform::Rounding;
  for (int64_t step :
       {int64_t{100}, int64_t{1'000}, 10 * kMilli, kSecond, 2 * kSecond}) {
    for (R rounding : {R::kDown, R::kUp, R::kNearest}) {
      RoundingPlatform platform(step, rounding);
      int64_t learned = 0;
      ASSERT_EQ(Probe(platform, &learned), 0);
      EXPECT_EQ(learned, step) << "rounding " << static_cast<int>(rounding);
      EXPECT_EQ(EntriesIn(tree.Path("dst")), 0);
      EXPECT_EQ(platform.open_handles(), 0u);
    }
  }
  int64_t exact = 0;
  ASSERT_EQ(Probe(DefaultPlatform(), &exact), 0);
  EXPECT_EQ(exact, kExactTimes);
}

TEST_F(TimeStepProbe,
       AFileSystemThatIgnoresTimesOrRefusesTheProbeTellsNothing) {
  RoundingPlatform ignores(kSecond, RoundingPlatform::Rounding::kIgnoresTimes);
  int64_t step = -1;
  EXPECT_EQ(Probe(ignores, &step), EPROTO);
  EXPECT_EQ(step, -1);
  EXPECT_EQ(EntriesIn(tree.Path("dst")), 0);

  FaultyPlatform read_only;
  read_only.fail_kind = FaultyPlatform::Kind::kOpen;
  read_only.fail_name = ".~ferrybox-";
  read_only.fail_error = EROFS;
  EXPECT_EQ(Probe(read_only, &step), EROFS);
}

TEST_F(TimeStepProbe, StepsAreLearnedPerDeviceAndProbedOncePerDevice) {
  RoundingPlatform platform(2 * kSecond, RoundingPlatform::Rounding::kDown);
  ScopedHandle folder(platform);
  ASSERT_EQ(platform.Open(kWorkingFolder, tree.Path("dst"), OpenMode::kFolder,
                          folder.out()),
            0);
  TimeSteps steps(platform);
  EXPECT_EQ(steps.Step(7, folder.get()), 2 * kSecond);
  const int probe_finishes = platform.finishes;
  EXPECT_EQ(steps.Step(7, folder.get()), 2 * kSecond);
  EXPECT_EQ(platform.finishes, probe_finishes);

  // A device whose probe cannot be written keeps what its copies showed,
  // the largest step any of them needed.
  platform.fail_kind = FaultyPlatform::Kind::kOpen;
  platform.fail_name = ".~ferrybox-";
  const int64_t t = 1'700'000'000 * kSecond;
  steps.Learn(8, t + 10 * kMilli + 5, t + 10 * kMilli);
  steps.Learn(8, t + 999 * kMilli, t);
  steps.Learn(8, t + 3 * kMilli, t);
  steps.Learn(8, t + 7200 * kSecond, t);  // not rounding: ignored
  EXPECT_EQ(steps.Step(8, folder.get()), kSecond);
  EXPECT_EQ(steps.Step(9, folder.get()), kExactTimes);
  EXPECT_EQ(steps.Step(7, folder.get()), 2 * kSecond);
}

using CoarseTimesRun = RunFixture;

// Twelve files, the first `in_root` of them in src and the others in
// src/sub, with times that have a part below the second, on odd and even
// seconds.
void WriteTimedTree(testing::TempTree& tree, int in_root = 6) {
  for (int i = 0; i < 12; ++i) {
    const std::string path =
        tree.Write(std::string(i < in_root ? "src/" : "src/sub/") + "f" +
                       std::to_string(i),
                   std::string(i, 'x'));
    SetMtimeNs(path, 1'700'000'000 * kSecond + int64_t{i} * 370'123'457);
  }
}

TEST_F(CoarseTimesRun, AnUnchangedTreeIsSkippedAfterOneProbeAndAMoveIsSeen) {
  WriteTimedTree(tree);
  RoundingPlatform platform(10 * kMilli, RoundingPlatform::Rounding::kUp);
  UsePlatform(platform);
  Go(true);
  ASSERT_EQ(Figure(FigureBox::kText4), "12");
  EXPECT_TRUE(Messages().empty());
  EXPECT_NE(MtimeNs(Dst("f1")), MtimeNs(Src("f1")));

  platform.finishes = 0;
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
  EXPECT_EQ(platform.finishes, 2);  // one probe, two times
  EXPECT_EQ(EntriesIn(Dst()), 7);   // six files and "sub"

  // Rounded up, a move by one step can stay within a step of the copy; a
  // move by more never does.
  SetMtimeNs(Src("sub/f7"), MtimeNs(Src("sub/f7")) + 2 * 10 * kMilli);
  SetMtimeNs(Src("f2"), MtimeNs(Src("f2")) - 2 * 10 * kMilli);
  Go(true);
  EXPECT_EQ(List2(), (std::vector<std::string>{
                         "checking directory exists=" + Dst(),
                         "Different File, Updating=" + Dst("f2"),
                         "checking directory exists=" + Dst("sub"),
                         "Different File, Updating=" + Dst("sub/f7")}));
}

TEST_F(CoarseTimesRun, TimesLostToARenameAreSetAgain) {
  // Copied first, a file changed a moment ago cannot tell whether the
  // rename stamped it; the older ones after it can.
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  SetMtimeNs(tree.Write("src/fresh", "now"), now);
  WriteTimedTree(tree, 0);
  RoundingPlatform platform(2 * kSecond, RoundingPlatform::Rounding::kDown);
  platform.stamps_renames = true;
  platform.rename_time_ns = now;
  platform.fail_kind = FaultyPlatform::Kind::kSetTimes;
  platform.fail_name = "f9";
  UsePlatform(platform);
  Go();
  EXPECT_TRUE(Messages().empty());  // a copy with a wrong time is still good
  EXPECT_EQ(testing::ReadFile(Dst("sub/f9")), std::string(9, 'x'));
  EXPECT_LE(MtimeNs(Dst("sub/f10")), MtimeNs(Src("sub/f10")));
  EXPECT_GT(MtimeNs(Dst("sub/f10")), MtimeNs(Src("sub/f10")) - 2 * kSecond);

  platform.fail_kind = FaultyPlatform::Kind::kNone;
  Go(true);
  EXPECT_EQ(Count(List2(), "Different File, Updating=" + Dst("sub/")), 1);
  EXPECT_EQ(Count(List2(), "Different File, Updating=" + Dst("sub/f9")), 1);
  Go(true);
  EXPECT_EQ(Count(List2(), "Different File, Updating=" + Dst("sub/")), 0);
}

TEST_F(CoarseTimesRun, AnExactDestinationIsNeverProbedWhenNothingChanged) {
  WriteTimedTree(tree);
  RoundingPlatform platform(kExactTimes, RoundingPlatform::Rounding::kDown);
  UsePlatform(platform);
  Go();
  EXPECT_EQ(platform.set_times, 0);  // renames keep times here
  platform.finishes = 0;
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
  EXPECT_EQ(platform.finishes, 0);
}

// Real file systems: each destination keeps times at its own step.
struct RealFileSystem {
  ImageMount::Kind kind;
  const char* name;
  int64_t step;
  friend void PrintTo(const RealFileSystem& fs, std::ostream* out) {
    *out << fs.name;
  }
};

class IncrementalOntoRealFileSystem
    : public RunFixture,
      public ::testing::WithParamInterface<RealFileSystem> {};

TEST_P(IncrementalOntoRealFileSystem, CopiesNothingUnchangedAndAMoveOfOneStep) {
  std::string why_not;
  auto mount = ImageMount::Create(GetParam().kind, tree.root(), &why_not);
  if (!mount)
    GTEST_SKIP() << "cannot mount " << GetParam().name << ": " << why_not;
  WriteTimedTree(tree);
  window.text2 = mount->path() + "/backup";
  const auto dst = [&](const std::string& name) {
    return window.text2 + "/" + name;
  };

  Go();
  ASSERT_EQ(Figure(FigureBox::kText4), "12");
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(testing::ReadFile(dst("sub/f11")), std::string(11, 'x'));

  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
  EXPECT_EQ(Count(List2(), "New File"), 0);
  EXPECT_EQ(Count(List2(), "Different File"), 0);
  EXPECT_EQ(EntriesIn(window.text2), 7);  // no probe left behind

  SetMtimeNs(Src("f3"), MtimeNs(Src("f3")) + GetParam().step);
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "1");
  EXPECT_EQ(Count(List2(), "Different File, Updating=" + dst("f3")), 1);
  EXPECT_TRUE(Messages().empty());

  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");
}

INSTANTIATE_TEST_SUITE_P(
    Images, IncrementalOntoRealFileSystem,
    ::testing::Values(
        RealFileSystem{ImageMount::Kind::kExfat, "exFAT", kSecond},
        RealFileSystem{ImageMount::Kind::kFat32, "FAT32", 2 * kSecond},
        RealFileSystem{ImageMount::Kind::kExt4, "ext4", kExactTimes}),
    [](const ::testing::TestParamInfo<RealFileSystem>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace ferrybox
