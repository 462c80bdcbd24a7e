// SPDX-License-Identifier: GPL-3.0-or-later
// Backups onto destinations that store names without regard to case, keep
// times coarser than the source's, or store no links, owners or attributes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "engine/case_folding.h"
#include "engine/time_step.h"
#include "platform/failure.h"
#include "platform/temp_name.h"
#include "tests/support/image_mount.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::ImageMount;
using testing::ReadFile;
using testing::SetMtimeNs;

struct Destination {
  const char* name;
  enum { kPlain, kSimulated, kImage } kind;
  bool folds;
  ImageMount::Kind image = ImageMount::Kind::kExfat;
  bool unicode = true;               // stores names beyond ASCII
  bool rename_keeps_stored = false;  // as ext4's casefold folders
  friend void PrintTo(const Destination& d, std::ostream* os) { *os << d.name; }
};

class ClashTest : public RunFixture {
 protected:
  ~ClashTest() override { run.reset(); }  // before `simulated` goes

  /// The paths refused since the last call, each a case clash, as often as
  /// each was.
  std::multiset<std::string> Clashes() {
    std::multiset<std::string> paths;
    for (const Failure& failure : window.failures) {
      EXPECT_EQ(failure.error, kErrorCaseClash) << failure.path;
      // The name kept may come later in the run, or be copied in no run.
      EXPECT_EQ(ErrorText(failure.error).find("copied"), std::string::npos);
      paths.insert(failure.path);
    }
    window.failures.clear();
    return paths;
  }

  ClashTest() {
    // A drive that takes as one the names that fold alike, as ext4 does.
    simulated.one_name = [](const std::string& a, const std::string& b) {
      return FoldCase(a) == FoldCase(b);
    };
  }

  testing::CaseFoldingPlatform simulated;
};

class CaseFoldingTest : public ClashTest,
                        public ::testing::WithParamInterface<Destination> {};

TEST_P(CaseFoldingTest, TheFirstInByteOrderOfNamesDifferingInCaseIsKept) {
  const Destination& destination = GetParam();
  std::unique_ptr<ImageMount> mount;
  if (destination.kind == Destination::kImage) {
    std::string why_not;
    mount = ImageMount::Create(destination.image, tree.root(), &why_not);
    if (!mount) GTEST_SKIP() << "cannot mount the image: " << why_not;
    window.text2 = mount->path() + "/backup";
  }
  if (destination.kind == Destination::kSimulated) UsePlatform(simulated);
  simulated.rename_keeps_stored = destination.rename_keeps_stored;
  const std::string dst = window.text2 + "/";

  // Pairs of names differing only in case: files, folders, folders inside
  // a kept one, and (where the destination can store such names) "Ärger"
  // and "ärger".
  std::vector<std::pair<std::string, std::string>> pairs = {
      {"README", "readme"}, {"Docs/a", "docs/a"}, {"Docs/In/c", "Docs/in/c"}};
  if (destination.unicode)
    pairs.emplace_back("\xc3\x84rger.txt", "\xc3\xa4rger.txt");
  for (const auto& [a, b] : pairs) {
    tree.Write("src/" + a, a);
    tree.Write("src/" + b, b);
  }
  tree.Write("src/docs/b", "docs/b");
  tree.MakeFolder("src/docs/empty");
  tree.Write("src/Photo.JPG", "photo");
  // Alike only in folders of different parents: no clash.
  tree.Write("src/one/Sub/f", "one");
  tree.Write("src/two/sub/g", "two");
  // The kept folder's bits are its own source's, never those of the refused
  // spelling, which opens the same folder where case is ignored.
  std::filesystem::permissions(Src("Docs"), std::filesystem::perms::owner_all);
  Go();

  // The first of each pair in byte order keeps its name, a folder's with
  // everything in it.
  std::vector<std::string> kept;
  std::multiset<std::string> refused;
  for (const auto& [a, b] : pairs) {
    kept.push_back(a);
    refused.insert(dst + b);
  }
  refused.insert({dst + "docs/b", dst + "docs/empty"});
  if (!destination.folds) refused.clear();
  EXPECT_EQ(Clashes(), refused);

  std::filesystem::rename(Src("Photo.JPG"), Src("photo.jpg"));
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    simulated.reverse_listing = run == 0;  // the stored name stays first
    Go(true);
    EXPECT_EQ(Clashes(), refused);  // every run, never copied over
    for (const std::string& name : kept) EXPECT_EQ(ReadFile(dst + name), name);
    EXPECT_EQ(ReadFile(dst + "two/sub/g"), "two");
    // Renaming a file's case only still renames its copy.
    EXPECT_EQ(testing::Entries(dst).count("photo.jpg"), 1u);
    EXPECT_EQ(testing::Entries(dst).count("Photo.JPG"),
              destination.folds ? 0u : 1u);
  }
  // One name of each pair where case is ignored, both where it is kept;
  // the photo's copy, with its earlier name beside it where case is kept;
  // "one" and "two".
  if (destination.kind != Destination::kImage) {
    EXPECT_EQ(std::filesystem::status(dst + "Docs").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
  }
  const size_t pairs_stored = destination.unicode ? 3 : 2;
  EXPECT_EQ(testing::Entries(dst).size(),
            destination.folds ? pairs_stored + 3 : 2 * pairs_stored + 4);
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, CaseFoldingTest,
    ::testing::Values(Destination{"KeepsCase", Destination::kPlain, false},
                      Destination{"Simulated", Destination::kSimulated, true},
                      Destination{"RenameKeepsStoredSpelling",
                                  Destination::kSimulated, true,
                                  ImageMount::Kind::kExfat, true, true},
                      Destination{"exFAT", Destination::kImage, true,
                                  ImageMount::Kind::kExfat},
                      // fusefat stores no names beyond ASCII.
                      Destination{"FAT32", Destination::kImage, true,
                                  ImageMount::Kind::kFat32, false}),
    ::testing::PrintToStringParamName());

// ext4 and f2fs fold case only in folders with the casefold attribute.
TEST_F(ClashTest, AFoldingFolderOnADeviceThatKeepsCaseKeepsTheStoredName) {
  UsePlatform(simulated);
  for (const char* folder : {"fold", "plain"}) {
    tree.Write("src/" + std::string(folder) + "/readme", "lower");
    tree.Write("src/" + std::string(folder) + "/README", "upper");
  }
  // Folding folders below folders differing only in case where case is
  // kept: both are copied.
  for (const char* folder : {"fold", "Up/fold", "up/fold"}) {
    tree.MakeFolder("dst/" + std::string(folder));
    simulated.FoldIn(Dst(folder));
  }
  tree.Write("src/Up/fold/x", "Up");
  tree.Write("src/up/fold/x", "up");
  Go();
  EXPECT_EQ(Clashes(), std::multiset<std::string>{Dst("fold/readme")});
  EXPECT_EQ(ReadFile(Dst("fold/README")), "upper");
  EXPECT_EQ(ReadFile(Dst("plain/readme")), "lower");
  EXPECT_EQ(ReadFile(Dst("plain/README")), "upper");
  EXPECT_EQ(ReadFile(Dst("Up/fold/x")), "Up");
  EXPECT_EQ(ReadFile(Dst("up/fold/x")), "up");

  // Whichever way the folder lists them, the stored copy stays untouched.
  const int64_t stored = testing::MtimeNs(Dst("fold/README"));
  for (bool reverse : {true, false}) {
    simulated.reverse_listing = reverse;
    Go(true);
    EXPECT_EQ(Clashes(), std::multiset<std::string>{Dst("fold/readme")});
    EXPECT_EQ(ReadFile(Dst("fold/README")), "upper");
    EXPECT_EQ(testing::MtimeNs(Dst("fold/README")), stored);
  }

  // A spelling stored earlier keeps its place, updated from its own file.
  std::filesystem::remove(Dst("fold/README"));
  tree.Write("dst/fold/readme", "earlier");
  for (bool reverse : {false, true}) {
    simulated.reverse_listing = reverse;
    Go(true);
    EXPECT_EQ(Clashes(), std::multiset<std::string>{Dst("fold/README")});
    EXPECT_EQ(ReadFile(Dst("fold/readme")), "lower");
    EXPECT_FALSE(testing::Exists(Dst("fold/README")));
  }
}

// A dry run learns from the names a drive stores that it ignores case, and
// shows what the run that follows shows: the copy of a file whose name
// changed only in case taken as renamed, nothing to update.
TEST_F(ClashTest, ADryRunLearnsFromTheStoredNamesThatTheDriveIgnoresCase) {
  tree.Write("src/Photo.JPG", "photo");
  UsePlatform(simulated);
  Go();
  std::filesystem::rename(Src("Photo.JPG"), Src("photo.jpg"));
  std::vector<std::string> shown[2];
  for (const bool dry_run : {true, false}) {
    UsePlatform(simulated, RunOptions{.dry_run = dry_run});
    const std::vector<std::string> writes = simulated.writes();
    Go(true);
    shown[dry_run] = List2();
    if (dry_run) {
      EXPECT_EQ(simulated.writes(), writes);
    }
  }
  EXPECT_EQ(shown[true], shown[false]);
  EXPECT_EQ(Count(shown[true], kDifferentFile), 0);
  EXPECT_EQ(testing::Entries(Dst()), std::set<std::string>{"photo.jpg"});
}

// Which names are one is the drive's to say; the run groups them so that
// the first in byte order (here always the first of a pair) is kept.
TEST_F(ClashTest, NamesTheDriveTakesAsOneClashAndOthersAreCopiedApart) {
  struct Pair {
    const char* kept;
    const char* other;
    bool one;  // as the drive takes them
  };
  const Pair pairs[] = {
      {"cafe\xcc\x81", "caf\xc3\xa9", true},  // café, NFD and NFC
      {"STRASSE",
       "stra\xc3\x9f"
       "e",
       true},                           // straße
      {"I", "\xc4\xb1", false},         // dotless ı, as exFAT
      {"s", "\xc5\xbf", false},         // long ſ, as exFAT
      {"\xc2\xb5", "\xce\xbc", false},  // micro and Greek mu
      {"Photo", "photo", true},
  };
  simulated.one_name = [&pairs](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0 ||
           std::any_of(std::begin(pairs), std::end(pairs), [&](const Pair& p) {
             return p.one && ((a == p.kept && b == p.other) ||
                              (a == p.other && b == p.kept));
           });
  };
  UsePlatform(simulated);
  std::multiset<std::string> refused;
  for (const Pair& pair : pairs) {
    if (pair.one) refused.insert(Dst(pair.other));
  }
  for (const bool reverse : {false, true}) {
    SCOPED_TRACE(reverse);
    for (const Pair& pair : pairs) {
      for (const char* name : {pair.kept, pair.other})
        tree.Write(std::string("src/") + name, name + std::to_string(reverse));
    }
    // Each listing order onto an empty backup: the same name is kept.
    std::filesystem::remove_all(Dst());
    simulated.reverse_listing = reverse;
    Go();
    EXPECT_EQ(Clashes(), refused);
    for (const Pair& pair : pairs) {
      SCOPED_TRACE(pair.other);
      EXPECT_EQ(ReadFile(Dst(pair.kept)), pair.kept + std::to_string(reverse));
      EXPECT_EQ(testing::Exists(Dst(pair.other)), !pair.one);
      if (!pair.one) {
        EXPECT_EQ(ReadFile(Dst(pair.other)),
                  pair.other + std::to_string(reverse));
      }
    }
  }
}

using ImageTest = RunFixture;

class FatImageTest : public RunFixture,
                     public ::testing::WithParamInterface<ImageMount::Kind> {};

TEST_P(FatImageTest, KeepsContentAndFailsOnlyLinksAndNamesItCannotHold) {
  // Names sharing a file, attributes, owners, bits and holes are dropped
  // quietly; a symbolic link and a name with characters the drive cannot
  // hold fail alone, each with its reason.
  tree.Write("src/g/a", "shared");
  tree.MakeFolder("src/h");
  tree.MakeFolder("src/empty");
  ASSERT_EQ(link(Src("g/a").c_str(), Src("h/b").c_str()), 0);
  ASSERT_EQ(setxattr(Src("g/a").c_str(), "user.origin", "camera", 6, 0), 0);
  tree.Write("src/sub/file", "content");
  ASSERT_EQ(chmod(Src("sub").c_str(), 0750), 0);
  ASSERT_EQ(geteuid() == 0 ? chown(Src("sub/file").c_str(), 4242, 4243) : 0, 0);
  ASSERT_EQ(symlink("file", Src("sub/link").c_str()), 0);
  tree.Write("src/sub/12:30 meeting.txt", "notes");
  tree.Write("src/sub/what?.txt", "asked");
  // FAT through FUSE refuses to write past the end of a file, so a sparse
  // file is written whole; exFAT fills the gap itself.
  ASSERT_EQ(truncate(tree.Write("src/image", "start").c_str(), 8 << 20), 0);
  // Changed well before their copies: one made within a step of its file's
  // change is made once more by the next run.
  for (const char* name : {"g/a", "sub/file", "image"})
    SetMtimeNs(Src(name), testing::MtimeNs(Src(name)) - 10'000'000'000);
  // Dated outside the years the drive holds: it keeps another time.
  SetMtimeNs(tree.Write("src/1970", "old"), 86'400'000'000'005);
  SetMtimeNs(tree.Write("src/2147", "far"), 5'604'235'200'000'000'000);
  testing::TempTree images;
  std::string why_not;
  const auto mount = ImageMount::Create(GetParam(), images.root(), &why_not);
  if (!mount) GTEST_SKIP() << "cannot mount the image: " << why_not;
  window.text2 = mount->path() + "/backup";
  for (bool incremental : {false, true}) {
    SCOPED_TRACE(incremental);
    // Only a mount shows what the drive keeps.
    if (incremental) {
      ASSERT_TRUE(mount->Remount());
    }
    window.failures.clear();
    const int errors = Count(List3(), "Error copying file: ");
    Go(incremental);
    std::map<std::string, std::string> failed;
    for (const Failure& failure : window.failures)
      failed[failure.path.substr(window.text2.size())] = failure.Reason();
    const std::map<std::string, std::string> expected = {
        {"/sub/link", "the destination cannot hold symbolic links"},
        {"/sub/12:30 meeting.txt",
         "the destination cannot store this name (the character :)"},
        {"/sub/what?.txt",
         "the destination cannot store this name (the character ?)"}};
    EXPECT_EQ(failed, expected);
    EXPECT_EQ(Count(List3(), "Error copying file: ") - errors, 3);
    EXPECT_EQ(Figure(FigureBox::kText4), incremental ? "3" : "9");
  }
  for (const char* name : {"g/a", "h/b", "sub/file", "image", "1970", "2147"})
    EXPECT_EQ(ReadFile(window.text2 + "/" + name), ReadFile(Src(name)));
  EXPECT_TRUE(std::filesystem::is_directory(window.text2 + "/empty"));
  // No link, nor one left under a temporary name.
  EXPECT_EQ(testing::Entries(window.text2 + "/sub").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Images, FatImageTest,
                         ::testing::Values(ImageMount::Kind::kFat32,
                                           ImageMount::Kind::kExfat),
                         [](const auto& info) {
                           return info.param == ImageMount::Kind::kFat32
                                      ? "Fat32"
                                      : "Exfat";
                         });

TEST_F(ImageTest, ACopyWhoseCloseFailsIsAFailureAndLeavesNoTemporary) {
  // As on a share, or a full disk, that reports a failed write only at close.
  tree.Write("src/sub/file", "content");
  testing::TempTree images;
  std::string why_not;
  const auto mount = ImageMount::Create(ImageMount::Kind::kCloseFails,
                                        images.root(), &why_not);
  if (!mount) GTEST_SKIP() << "cannot mount the file system: " << why_not;
  window.text2 = mount->path() + "/backup";
  Go();
  ASSERT_EQ(window.failures.size(), 1u);
  EXPECT_EQ(window.failures[0].error, EIO);
  EXPECT_EQ(List3().end()[-2],
            "Error copying file: " + window.text2 + "/sub/file");
  EXPECT_EQ(testing::Entries(window.text2 + "/sub"), std::set<std::string>{});
}

using testing::FaultyPlatform;
using Kind = FaultyPlatform::Kind;

constexpr int64_t kSecond = 1'000'000'000;
constexpr FileTime kEven{1'700'000'000, 0};  // a 2 s boundary, as on FAT

/// The system's platform, except that it keeps last-modified times rounded
/// down to `step`, as a coarser file system would.
class RoundingPlatform : public FaultyPlatform {
 public:
  explicit RoundingPlatform(int64_t step) : step_(step) {}
  int Finish(Handle file, std::optional<uint32_t> mode, FileTime atime,
             FileTime mtime, FileTime* stored_mtime) override {
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

struct Rounding {
  const char* name;
  int64_t step;
  bool image;  // a real file system in an image of `kind`, else simulated
  ImageMount::Kind kind = ImageMount::Kind::kExt4;
  friend void PrintTo(const Rounding& d, std::ostream* os) { *os << d.name; }
};

class TimeStepTest : public RunFixture,
                     public ::testing::WithParamInterface<Rounding> {};

TEST_P(TimeStepTest, NothingUnchangedIsCopiedAndAFileTouchedOneStepLaterIs) {
  const Rounding& destination = GetParam();
  std::string why_not;
  std::unique_ptr<ImageMount> mount;
  if (destination.image) {
    mount = ImageMount::Create(destination.kind, tree.root(), &why_not);
    if (!mount) GTEST_SKIP() << "cannot mount the image: " << why_not;
    window.text2 = mount->path() + "/backup";
  }
  RoundingPlatform platform(destination.image ? kExactTimes : destination.step);
  int set_times = 0;  // on probes and copies, not on folders
  platform.before_call = [&](Kind kind, const std::string& name) {
    if (kind == Kind::kSetTimes && IsTempName(name)) ++set_times;
  };
  UsePlatform(platform);
  // Six files in src and six in src/sub, with times that have a part below
  // the second, on odd and even seconds.
  for (int i = 0; i < 12; ++i)
    SetMtimeNs(tree.Write((i < 6 ? "src/f" : "src/sub/f") + std::to_string(i),
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

  SetMtimeNs(Src("f3"), testing::MtimeNs(Src("f3")) + destination.step);
  Go(true);
  EXPECT_EQ(List2().at(1), "Different File, Updating=" + window.text2 + "/f3");
  EXPECT_EQ(Figure(FigureBox::kText4), "1");
  EXPECT_EQ(Count(List3(), "Error"), 0);
  Go(true);
  EXPECT_EQ(Figure(FigureBox::kText4), "0");

  if (destination.step == kSecond) {
    // Edited again in the second its copy was made, to the same length:
    // the next run copies it again, and once the second is over no more.
    // Its time is just past a whole second, so that the copy's rounding
    // alone looks like a millisecond step: only a probe shows whole seconds.
    const std::string fresh = tree.Write("src/fresh", "AAAA");
    auto now_ns = [] {
      return std::chrono::duration_cast<std::chrono::nanoseconds>(
                 std::chrono::system_clock::now().time_since_epoch())
          .count();
    };
    while (now_ns() % kSecond < 20'000'000 || now_ns() % kSecond > 700'000'000)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int64_t written = now_ns() / kSecond * kSecond + 1'000;
    SetMtimeNs(fresh, written);
    Go(true);
    tree.Write("src/fresh", "BBBB");
    SetMtimeNs(fresh, written + 1);
    Go(true);
    EXPECT_EQ(ReadFile(window.text2 + "/fresh"), "BBBB");
    // That copy may have been made in the same second again: once the
    // second is over, it is copied once more at most.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    Go(true);
    Go(true);
    EXPECT_EQ(Figure(FigureBox::kText4), "0");
  }
  UsePlatform(DefaultPlatform());  // before `platform` goes
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, TimeStepTest,
    ::testing::Values(
        Rounding{"Simulated100ns", 100, false},
        Rounding{"Simulated1s", kSecond, false},
        Rounding{"Simulated2s", 2 * kSecond, false},
        Rounding{"SimulatedExact", kExactTimes, false},
        Rounding{"exFAT", kSecond, true, ImageMount::Kind::kExfat},
        Rounding{"FAT32", 2 * kSecond, true, ImageMount::Kind::kFat32},
        Rounding{"ext4", kExactTimes, true, ImageMount::Kind::kExt4}),
    ::testing::PrintToStringParamName());

TEST(SameTimeAtStepTest, ExactlyOneStepApartIsAChangeAndLessIsNot) {
  // Before 1970; in 2400.
  const FileTime before_1970{-2'000'000'000, 0};
  const FileTime far{13'569'465'600, 0};
  const std::tuple<const char*, FileTime, int64_t> table[] = {
      {"2s", kEven, 2 * kSecond},
      {"1s", kEven, kSecond},
      {"100ns", {7, 300}, 100},
      {"exact", {7, 300}, kExactTimes},
      {"before 1970", before_1970, 2 * kSecond},
      {"across 1970", {-1, 0}, 2 * kSecond},
      {"2400", far, 2 * kSecond}};
  for (const auto& [what, a, step] : table) {
    for (const int64_t apart : {step, -step, step - 1, 1 - step}) {
      SCOPED_TRACE(std::string(what) + " " + std::to_string(apart));
      const FileTime b = AddNanoseconds(a, apart);
      const bool same = apart != step && apart != -step;
      EXPECT_EQ(SameTimeAtStep(a, b, step), same);
      EXPECT_EQ(SameTimeAtStep(b, a, step), same);
    }
  }
  // Centuries apart, beyond what a count of nanoseconds holds.
  EXPECT_FALSE(SameTimeAtStep(
      before_1970, {before_1970.seconds + 20'000'000'000, 0}, 2 * kSecond));
  EXPECT_FALSE(SameTimeAtStep({INT64_MIN, 0}, {INT64_MAX, 0}, 2 * kSecond));
}

TEST(KeptOutsideItsYearsTest, OnlyWhatSuchADriveKeepsIsTakenAsKept) {
  const FileTime in_1970{86'400, 5};             // 1970-01-02 00:00
  const FileTime in_2147{5'604'235'200, 0};      // 2147-08-04 20:00
  const FileTime midnight_1980{315'532'800, 0};  // 1980-01-01 00:00
  // requested, stored, kept
  const std::tuple<const char*, FileTime, FileTime, bool> table[] = {
      {"held at the first moment", in_1970, midnight_1980, true},
      {"the first moment in UTC+2", in_1970, {315'525'600, 0}, true},
      {"wrapped by 128 years", in_1970, {4'039'459'200, 0}, true},
      {"wrapped back", in_2147, {1'564'948'800, 0}, true},
      {"held at the last moment", {7'263'259'200, 0}, {4'354'819'198, 0}, true},
      {"not a midnight", in_1970, {315'532'807, 0}, false},
      {"another day", in_1970, {486'432'000, 0}, false},
      {"wrapped to another hour", in_1970, {4'039'470'420, 0}, false},
      {"a time the drive holds", {1'588'655'105, 0}, midnight_1980, false},
      {"stored outside its years", in_1970, {345'600, 0}, false},
  };
  for (const auto& [what, requested, stored, kept] : table)
    EXPECT_EQ(KeptOutsideItsYears(requested, stored), kept) << what;
}

TEST(StepOfRoundingTest, AStoredTimeOneStepAwayNeedsTheNextStep) {
  const FileTime odd{1'700'000'001, 0};
  const auto at = [](FileTime t, int64_t ns) { return AddNanoseconds(t, ns); };
  // requested, stored, step
  const std::tuple<FileTime, FileTime, int64_t> table[] = {
      {kEven, kEven, kExactTimes},
      {at(kEven, kSecond - 1), kEven, kSecond},
      {at(kEven, kSecond), kEven, 2 * kSecond},   // one whole second: not 1 s
      {at(kEven, -kSecond + 1), kEven, kSecond},  // rounded up
      {at(kEven, 2 * kSecond - 1), kEven, 2 * kSecond},
      {at(kEven, 2 * kSecond), kEven, 0},  // two whole seconds: no rounding
      {at(odd, kSecond), odd, 0},          // odd: never kept at 2 s
      {at(kEven, 100), at(kEven, 0), 1'000},
      {at(kEven, 99), at(kEven, 0), 100},
  };
  for (const auto& [requested, stored, step] : table)
    EXPECT_EQ(StepOfRounding(requested, stored), step)
        << requested.seconds << "." << requested.nanoseconds << " kept as "
        << stored.seconds << "." << stored.nanoseconds;
}

TEST(TimeStepsTest, WithoutAProbeTheLargestStepCopiesNeededIsKept) {
  FaultyPlatform platform;
  platform.fail_kind = Kind::kOpen;
  platform.fail_error = EROFS;  // the probe's file cannot be made
  TimeSteps steps(platform);
  const auto at = [](int64_t ns) { return AddNanoseconds(kEven, ns); };
  steps.Learn(8, at(10'000'005), at(10'000'000));
  steps.Learn(8, at(999'000'000), kEven);
  steps.Learn(8, at(7200 * kSecond), kEven);  // not rounding: ignored
  EXPECT_EQ(steps.Step(8, kWorkingFolder), kSecond);
  EXPECT_EQ(steps.Step(9, kWorkingFolder), kExactTimes);
  EXPECT_EQ(platform.failures, 2);  // one probe each
}

}  // namespace
}  // namespace ferrybox
