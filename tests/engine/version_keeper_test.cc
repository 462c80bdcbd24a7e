// SPDX-License-Identifier: GPL-3.0-or-later
// Earlier copies kept before a run replaces them, and removed when old.
#include "engine/version_keeper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/file_sync.h"
#include "platform/environment.h"
#include "tests/support/image_mount.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::FaultyPlatform;
using testing::ImageMount;
using testing::Mode;
using testing::MtimeNs;
using testing::ReadFile;
using Kind = FaultyPlatform::Kind;
namespace fs = std::filesystem;

class VersionTest : public RunFixture {
 protected:
  // The kept versions of `relative` (below the destination), in every run
  // folder.
  std::vector<std::string> Versions(const std::string& relative,
                                    const std::string& dst = "") {
    const std::string folder =
        (dst.empty() ? Dst() : dst) + "/" + kVersionsFolder;
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
      const std::string path = entry.path().string() + "/" + relative;
      if (testing::Exists(path)) found.push_back(path);
    }
    return found;
  }
  std::string VersionsFolder() const { return Dst() + "/" + kVersionsFolder; }
};

// What happens to the source between a backup and the run that keeps.
enum class Change { kNone, kLength, kTime, kBitsOnly, kLinkToFile };

struct KeepCase {
  const char* name;
  Change change;
  bool incremental;
  int days;
  bool kept;
};

TEST_F(VersionTest, KeepsTheEarlierCopyOnlyWhenItsContentMayDiffer) {
  const KeepCase cases[] = {
      {"length, incremental", Change::kLength, true, 7, true},
      {"length, full", Change::kLength, false, 7, true},
      {"time, incremental", Change::kTime, true, 7, true},
      {"time, full", Change::kTime, false, 7, true},
      {"a file over a link", Change::kLinkToFile, true, 7, true},
      {"unchanged, full", Change::kNone, false, 7, false},
      {"unchanged, incremental", Change::kNone, true, 7, false},
      {"bits only", Change::kBitsOnly, true, 7, false},
      {"days 0", Change::kLength, true, 0, false},
  };
  for (const KeepCase& c : cases) {
    SCOPED_TRACE(c.name);
    UseCase(c.name);
    tree.Write(std::string(c.name) + "/src/a/f.txt", "one");
    ::chmod(Src("a/f.txt").c_str(), 0640);
    testing::SetMtimeNs(Src("a/f.txt"), 1'500'000'000'123'456'789);
    if (c.change == Change::kLinkToFile) {
      fs::remove(Src("a/f.txt"));
      fs::create_symlink("elsewhere", Src("a/f.txt"));
    }
    window.keep_days = 0;
    Go();
    ASSERT_TRUE(testing::Exists(Dst("a/f.txt")));
    const int64_t earlier_mtime = MtimeNs(Dst("a/f.txt"));
    if (c.change != Change::kLinkToFile) {
      ASSERT_EQ(::setxattr(Dst("a/f.txt").c_str(), "user.note", "x", 1, 0), 0);
    }

    switch (c.change) {
      case Change::kNone:
        break;
      case Change::kLength:
        tree.Write(std::string(c.name) + "/src/a/f.txt", "longer");
        testing::SetMtimeNs(Src("a/f.txt"), 1'500'000'000'123'456'789);
        break;
      case Change::kTime:
        tree.Write(std::string(c.name) + "/src/a/f.txt", "two");
        break;
      case Change::kBitsOnly:
        ::chmod(Src("a/f.txt").c_str(), 0600);
        break;
      case Change::kLinkToFile:
        fs::remove(Src("a/f.txt"));
        tree.Write(std::string(c.name) + "/src/a/f.txt", "two");
        break;
    }
    window.keep_days = c.days;
    Go(c.incremental);
    EXPECT_EQ(Count(List3(), "Error"), 0);
    const std::vector<std::string> kept = Versions("a/f.txt");
    if (!c.kept) {
      EXPECT_TRUE(kept.empty());
      continue;
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(ReadFile(Dst("a/f.txt")), ReadFile(Src("a/f.txt")));
    struct stat st;
    ASSERT_EQ(::lstat(kept[0].c_str(), &st), 0);
    if (c.change == Change::kLinkToFile) {
      EXPECT_EQ(fs::read_symlink(kept[0]).string(), "elsewhere");
      continue;
    }
    EXPECT_EQ(ReadFile(kept[0]), "one");
    EXPECT_EQ(int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec,
              earlier_mtime);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    char note[4] = {};
    EXPECT_EQ(::getxattr(kept[0].c_str(), "user.note", note, sizeof note), 1);
    // The history is the owner's alone.
    EXPECT_EQ(Mode(VersionsFolder()), 0700u);
    EXPECT_EQ(Mode(fs::path(kept[0]).parent_path().string()), 0700u);
    EXPECT_TRUE(testing::Exists(VersionsFolder() + "/" + kVersionsMarker));
  }
}

// Flushes that take a while, so that copies in flight meet one under way.
class SlowFlushes : public FaultyPlatform {
 public:
  int Sync(Handle file) override {
    const int error = FaultyPlatform::Sync(file);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return error;
  }
};

// The moment between keeping and replacing: a kill there leaves the
// earlier copy both under its name and in its version folder, and every
// version is on the disk before its name is given away, copies in flight
// sharing flushes or not.
TEST_F(VersionTest, TheVersionIsFlushedBeforeTheNameIsReplaced) {
  std::vector<std::string> names = {"f.txt"};
  for (int i = 0; i < 16; ++i) names.push_back("g" + std::to_string(i));
  for (const std::string& name : names) tree.Write("src/" + name, "one");
  Go();
  for (const std::string& name : names) tree.Write("src/" + name, "second");
  SlowFlushes platform;
  UsePlatform(platform);
  window.keep_days = 3;
  bool seen = false;
  platform.before_call = [&](Kind kind, const std::string& name) {
    if (kind != Kind::kRename || name != "f.txt" || seen) return;
    seen = true;
    const std::vector<std::string> kept = Versions("f.txt");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(ReadFile(kept[0]), "one");
    EXPECT_EQ(ReadFile(Dst("f.txt")), "one");
    // The run dies here: nothing after this call happens.
    platform.FailNth(Kind::kRename, 1, EIO, "f.txt");
  };
  Go(true);
  ASSERT_TRUE(seen);
  EXPECT_EQ(ReadFile(Dst("f.txt")), "one");
  const std::vector<std::string> calls = platform.calls();
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const auto rename =
        std::find_if(calls.begin(), calls.end(), [&](const std::string& call) {
          return call.starts_with("rename ") && call.ends_with("-> " + name);
        });
    ASSERT_NE(rename, calls.end());
    // The last call naming it before: the version's link.
    const auto link = std::find(std::make_reverse_iterator(rename),
                                calls.rend(), "open " + name);
    ASSERT_NE(link, calls.rend());
    const auto flush =
        std::find_if(link.base(), rename, [](const std::string& call) {
          return call.starts_with("sync ") && IsVersionStamp(call.substr(5));
        });
    EXPECT_NE(flush, rename) << "no flush of the version folder between";
  }
}

TEST_F(VersionTest, AVersionThatCannotBeKeptLeavesTheEarlierCopy) {
  tree.Write("src/f.txt", "one");
  Go();
  tree.Write("src/f.txt", "second");
  tree.Write("src/new.txt", "new");
  FaultyPlatform platform;
  platform.fail_kind = Kind::kMkdir;
  platform.fail_name = kVersionsFolder;
  platform.fail_error = ENOSPC;
  UsePlatform(platform);
  window.keep_days = 3;
  Go(true);
  EXPECT_EQ(ReadFile(Dst("f.txt")), "one");
  EXPECT_EQ(Count(List3(), "Error copying file: " + Dst("f.txt")), 1);
  // A new file replaces nothing: it needs no version.
  EXPECT_EQ(ReadFile(Dst("new.txt")), "new");
  EXPECT_EQ(testing::Entries(Dst()),
            (std::set<std::string>{"f.txt", "new.txt"}));
}

TEST_F(VersionTest, WhereTheDriveHasNoFurtherNamesTheEarlierCopyIsMoved) {
  std::string why_not;
  const auto mount =
      ImageMount::Create(ImageMount::Kind::kFat32, tree.root(), &why_not);
  if (!mount) GTEST_SKIP() << "cannot mount the image: " << why_not;
  window.text2 = mount->path() + "/backup";
  const std::string dst = window.text2;
  tree.Write("src/d/f.txt", "one");
  Go();
  tree.Write("src/d/f.txt", "second");
  window.keep_days = 3;
  Go(true);
  EXPECT_EQ(Count(List3(), "Error"), 0) << CopyLog();
  EXPECT_EQ(ReadFile(dst + "/d/f.txt"), "second");
  const std::vector<std::string> kept = Versions("d/f.txt", dst);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(ReadFile(kept[0]), "one");
}

TEST_F(VersionTest, PruningRemovesOnlyOldRunFoldersAndFollowsNoLink) {
  tree.Write("outside/precious", "mine");
  const std::string old_run = "2001-02-03 04.05.06Z";
  const std::string recent = UtcStampText(SecondsSinceEpoch() - 3600);
  tree.Write("dst/.ferrybox-versions/" + old_run + "/a/f.txt", "old");
  tree.Write("dst/.ferrybox-versions/" + old_run + " 2/g.txt", "old");
  tree.Write("dst/.ferrybox-versions/" + recent + "/f.txt", "recent");
  tree.Write("dst/.ferrybox-versions/2001-02-03 old notes/n.txt", "notes");
  fs::create_symlink(tree.Path("outside"),
                     VersionsFolder() + "/" + old_run + "/a/planted");
  fs::create_symlink(tree.Path("outside"),
                     VersionsFolder() + "/2001-01-01 00.00.00Z");
  tree.Write("src/f.txt", "one");
  window.keep_days = 2;
  Go();
  EXPECT_EQ(testing::Entries(VersionsFolder()),
            (std::set<std::string>{recent, "2001-02-03 old notes",
                                   "2001-01-01 00.00.00Z", kVersionsMarker}));
  EXPECT_EQ(ReadFile(tree.Path("outside/precious")), "mine");
  EXPECT_EQ(Count(List3(), kVersionsNotPruned), 0);
}

TEST_F(VersionTest, ARestoreTheOtherWayRoundLeavesTheHistoryOut) {
  tree.Write("src/f.txt", "one");
  Go();
  tree.Write("src/f.txt", "second");
  window.keep_days = 3;
  Go(true);
  ASSERT_EQ(Versions("f.txt").size(), 1u);
  // A folder of that name without the marker is the user's own.
  tree.Write("src/sub/.ferrybox-versions/x", "x");
  Go(true);
  window.text1 = Dst();
  window.text2 = tree.Path("restored");
  window.keep_days = 0;
  window.all_lines.clear();
  Go();
  EXPECT_EQ(testing::Entries(tree.Path("restored"), true),
            (std::set<std::string>{"f.txt", "sub", "sub/.ferrybox-versions",
                                   "sub/.ferrybox-versions/x"}));
  EXPECT_EQ(ReadFile(tree.Path("restored/f.txt")), "second");
  EXPECT_EQ(Figure(FigureBox::kText3), "2");
  for (const std::string& line : window.all_lines)
    EXPECT_EQ(line.find(std::string("/") + kVersionsFolder + "/2"),
              std::string::npos)
        << line;
}

// A dry run over a backup with versions on, a file changed and an old
// version due for pruning keeps and prunes nothing, and writes nothing at
// all: every entry of the backup stays as it was, its times and bits too,
// the folders' included. The names the drive stores tell that it keeps
// case, and the lengths or times that the files changed (by more than any
// step a drive keeps times in), without a probe.
TEST_F(VersionTest, ADryRunKeepsAndPrunesNothing) {
  tree.Write("src/f.txt", "one");
  tree.Write("src/sub/same.txt", "same");
  window.keep_days = 2;
  Go();
  tree.Write("dst/.ferrybox-versions/2001-02-03 04.05.06Z/f.txt", "old");
  tree.Write("src/f.txt", "changed");
  tree.Write("src/sub/same.txt", "SAME");
  testing::SetMtimeNs(Src("sub/same.txt"),
                      MtimeNs(Dst("sub/same.txt")) - int64_t{3'000'000'000});
  ASSERT_EQ(chmod(Src("sub").c_str(), 0750), 0);
  const auto backup = [this] {
    std::vector<std::string> entries;
    std::set<std::string> paths = testing::Entries(Dst(), true);
    paths.insert("");
    for (const std::string& path : paths) {
      const std::string full = Dst(path);
      entries.push_back(path + " " + std::to_string(Mode(full)) + " " +
                        std::to_string(MtimeNs(full)));
      if (!fs::is_directory(full)) entries.back() += " " + ReadFile(full);
    }
    return entries;
  };
  const std::vector<std::string> before = backup();
  FaultyPlatform platform;
  UsePlatform(platform, RunOptions{.dry_run = true});
  Go(/*incremental=*/true);
  EXPECT_EQ(backup(), before);
  EXPECT_EQ(platform.writes(), std::vector<std::string>{});
  EXPECT_EQ(Count(List2(), kDifferentFile), 2);
  EXPECT_EQ(run->LastOutcome().files_copied, 2);
}

TEST(VersionStamp, NamesOfRunFoldersAreRecognised) {
  const struct {
    const char* name;
    bool stamp;
    int64_t seconds;
  } cases[] = {
      {"1970-01-01 00.00.00Z", true, 0},
      {"2001-02-03 04.05.06Z", true, 981173106},
      {"2001-02-03 04.05.06Z 12", true, 981173106},
      {"2001-02-03 04.05.06Z x", false, 0},
      {"2001-02-03 04.05.06Z ", false, 0},
      {"2001-02-03 04.05.06", false, 0},
      {"2001-13-03 04.05.06Z", false, 0},
      {"2001-02-03T04.05.06Z", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int64_t seconds = 0;
    EXPECT_EQ(IsVersionStamp(c.name, &seconds), c.stamp);
    if (c.stamp) {
      EXPECT_EQ(seconds, c.seconds);
    }
  }
  EXPECT_EQ(UtcStampText(981173106), "2001-02-03 04.05.06Z");
}

}  // namespace
}  // namespace ferrybox
