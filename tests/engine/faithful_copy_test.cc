// SPDX-License-Identifier: GPL-3.0-or-later
// What a backup keeps beside content and times: empty folders, names that
// share one file, extended attributes, access control lists and file
// capabilities, and later changes of them; and each folder's bits, time and
// owner, given once everything in it is done.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <tuple>
#include <utility>

#include "engine/folder_finish.h"
#include "platform/temp_name.h"
#include "tests/support/child_process.h"
#include "tests/support/other_user.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::FaultyPlatform;
using testing::kOtherUser;
using testing::Mode;
using testing::MtimeNs;
using testing::ReadFile;
using Kind = FaultyPlatform::Kind;

struct stat StatNotFollowingLinks(const std::string& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st;
}

// Returns once the clock that stamps status changes has moved on since the
// call (it moves in ticks of a few ms), so that a change made then counts as
// later than everything done before; false after 2 s. `probe` is a file
// whose bits it sets to read that clock.
bool StatusClockTicks(const std::string& probe) {
  const auto stamp = [&probe] {
    struct stat st {};
    if (chmod(probe.c_str(), 0600) != 0 || stat(probe.c_str(), &st) != 0)
      return std::pair<time_t, long>{};
    return std::pair<time_t, long>{st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
  };
  const auto before = stamp();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < deadline) {
    if (stamp() != before) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

std::map<std::string, std::string> Attributes(const std::string& path) {
  std::map<std::string, std::string> attributes;
  char names[4096];
  const ssize_t length = llistxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at < length; at += strlen(names + at) + 1) {
    char value[4096];
    const ssize_t size =
        lgetxattr(path.c_str(), names + at, value, sizeof value);
    attributes[names + at] = std::string(value, size > 0 ? size : 0);
  }
  return attributes;
}

bool Shell(const std::string& command) {
  return testing::ChildProcess("/bin/sh", {"-c", command + " 2>&1"}).Finish() ==
         0;
}

class FaithfulTest : public RunFixture {
 protected:
  std::vector<std::string> CopyLines() {
    std::vector<std::string> lines;
    for (const std::string& line : List2())
      if (line.starts_with(kNewFile) || line.starts_with(kDifferentFile))
        lines.push_back(line);
    return lines;
  }
};

TEST_F(FaithfulTest, EmptyFoldersAtEveryDepthAreMadeInTheirTurnAsFolders) {
  tree.Write("src/p/f", "x");
  for (const char* folder : {"empty", "p/q", "deep/er/still/empty"})
    tree.MakeFolder("src/" + std::string(folder));
  ASSERT_EQ(chmod(Src("p/q").c_str(), 0750), 0);
  for (bool incremental : {false, true}) {
    SCOPED_TRACE(incremental);
    Go(incremental);
    for (const char* folder : {"empty", "p/q", "deep/er/still/empty"}) {
      SCOPED_TRACE(folder);
      EXPECT_TRUE(std::filesystem::is_empty(Dst(folder)));
      EXPECT_EQ(Count(List2(), kCheckingFolder + Dst(folder)), 1);
      EXPECT_EQ(Count(List2(), kCreatingFolder + Dst(folder)),
                incremental ? 0 : 1);
    }
    EXPECT_EQ(Mode(Dst("p/q")), 0750u);
    // After the files of its parent, and no file itself.
    const auto line = [&](const std::string& text) {
      return std::find(List2().begin(), List2().end(), text) - List2().begin();
    };
    if (!incremental) {
      EXPECT_LT(line(kNewFile + Dst("p/f")),
                line(kCheckingFolder + Dst("p/q")));
    }
    EXPECT_EQ(window.List(ListBox::kList1),
              std::vector<std::string>{Src("p/f")});
    EXPECT_EQ(run->LastOutcome().files_collected, 1);
  }
}

TEST_F(FaithfulTest, NamesSharingAFileShareOneInTheBackupThroughEveryChange) {
  // The first name met is in the root: a folder's files come first.
  tree.Write("src/a", "shared");
  tree.Write("src/alone", "own");
  tree.Write("src/other", "else");
  tree.MakeFolder("src/g");
  tree.MakeFolder("src/h");
  for (const char* name : {"h/b", "h/c"})
    ASSERT_EQ(link(Src("a").c_str(), Src(name).c_str()), 0);
  // A file of its own, whose new names come first.
  tree.Write("src/h/e", "shared");
  const std::vector<std::string> names = {"a",     "h/b",   "h/c", "g/d",
                                          "alone", "other", "h/e", "e"};
  FaultyPlatform platform;
  UsePlatform(platform);
  const struct {
    const char* change;  // a shell command run in the tree before the run
    bool incremental;
    std::vector<std::string> lines;
    std::set<std::set<std::string>> groups;
    bool copies_content;
    // Names whose copy is still the file of their name in "snap", a
    // snapshot of the backup made with cp -al.
    std::set<std::string> in_snapshot;
    // Run in the tree as the run opens src/e, once it decided it.
    const char* as_e_opens = "";
    // "Stop" clicked in the window while the later names are read.
    bool stop_while_reading = false;
  } steps[] = {
      {"",
       false,
       {kNewFile + Dst("a"), kNewFile + Dst("alone"), kNewFile + Dst("h/b"),
        kNewFile + Dst("h/c"), kNewFile + Dst("h/e"), kNewFile + Dst("other")},
       {{"a", "h/b", "h/c"}, {"alone"}, {"g/d", "e"}, {"other"}, {"h/e"}},
       true,
       {}},
      {"",
       true,
       {},
       {{"a", "h/b", "h/c"}, {"alone"}, {"g/d", "e"}, {"other"}, {"h/e"}},
       false,
       {}},
      // A new name for the group: linked, no content copied.
      {"ln src/a src/g/d",
       true,
       {kNewFile + Dst("g/d")},
       {{"a", "h/b", "h/c", "g/d"}, {"alone"}, {"e"}, {"other"}, {"h/e"}},
       false,
       {}},
      // A new name met before every name of its group in the backup (a
      // folder's files come first): the later names are read, and a stop
      // ends the reading at once ...
      {"ln src/h/e src/e",
       true,
       {},
       {{"a", "h/b", "h/c", "g/d"}, {"alone"}, {"other"}, {"h/e"}, {"e"}},
       false,
       {},
       "",
       true},
      // ... else it is linked to the later name's copy.
      {"",
       true,
       {kNewFile + Dst("e")},
       {{"a", "h/b", "h/c", "g/d"}, {"alone"}, {"other"}, {"h/e", "e"}},
       false,
       {}},
      // ... only while that copy is up to date: otherwise the content is
      // copied, and the later name linked to it.
      {"rm dst/e && touch -d 2001-01-01 dst/h/e",
       true,
       {kDifferentFile + Dst("h/e"), kNewFile + Dst("e")},
       {{"a", "h/b", "h/c", "g/d"}, {"alone"}, {"other"}, {"h/e", "e"}},
       true,
       {}},
      // Split off in the source with the same length and time: the copy
      // keeps sharing while its content is up to date.
      {"cp -p src/h/c src/h/c2 && mv src/h/c2 src/h/c",
       true,
       {},
       {{"a", "h/b", "h/c", "g/d"}, {"alone"}, {"other"}, {"h/e", "e"}},
       false,
       {}},
      // Split off in the backup: linked again.
      {"cp -p dst/h/b dst/h/b2 && mv dst/h/b2 dst/h/b",
       true,
       {kDifferentFile + Dst("h/b")},
       {{"a", "h/b", "h/c", "g/d"}, {"alone"}, {"other"}, {"h/e", "e"}},
       false,
       {}},
      // A snapshot of the backup survives an incremental run.
      {"cp -al dst snap",
       true,
       {},
       {{"a", "h/b", "h/c", "g/d"}, {"alone"}, {"other"}, {"h/e", "e"}},
       false,
       {"a", "h/b", "h/c", "g/d", "alone", "other", "h/e", "e"}},
      // A change of bits lands on a file of its own: only that name splits.
      {"chmod 600 src/alone",
       true,
       {kDifferentFile + Dst("alone")},
       {{"a", "h/b", "h/c", "g/d"}, {"alone"}, {"other"}, {"h/e", "e"}},
       true,
       {"a", "h/b", "h/c", "g/d", "other", "h/e", "e"}},
      // The later copy a new name is to be linked to is replaced after the
      // name was decided: never linked to what took its place.
      {"rm dst/e",
       true,
       {kDifferentFile + Dst("h/e"), kNewFile + Dst("e")},
       {{"a", "h/b", "h/c", "g/d"}, {"alone"}, {"other"}, {"h/e"}, {"e"}},
       true,
       {"a", "h/b", "h/c", "g/d", "other"},
       "echo else > dst/x && mv dst/x dst/h/e"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.change);
    ASSERT_TRUE(Shell("cd '" + tree.root() + "' && true " +
                      (*step.change ? std::string("&& ") + step.change : "")));
    const size_t calls = platform.calls().size();
    // Not read ahead: h/e's copy would be taken as it was before the change,
    // and the names in folders would be read on other threads.
    RunOptions options;
    if (*step.as_e_opens || step.stop_while_reading) options.look_ahead = 0;
    UsePlatform(platform, options);
    bool ran = false;
    bool reading = false;
    bool stopped = false;
    int read_after_stop = 0;
    platform.before_call = [&](Kind kind, const std::string& name) {
      if (kind == Kind::kOpen && name == "e" && *step.as_e_opens && !ran)
        ran = Shell("cd '" + tree.root() + "' && " + step.as_e_opens);
      // The names in folders are read only once src/e is decided.
      if (step.stop_while_reading && kind == Kind::kStat &&
          (name == "b" || name == "c" || name == "d")) {
        read_after_stop += stopped;
        // Slow enough that the window's events are due after it.
        if (!std::exchange(reading, true))
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
      }
    };
    window.on_process_events = [&] {
      if (reading && !std::exchange(stopped, true)) run->Command2_Click();
    };
    Go(step.incremental);
    EXPECT_EQ(read_after_stop, 0);
    EXPECT_EQ(stopped, step.stop_while_reading);
    std::vector<std::string> lines = CopyLines();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, step.lines);
    EXPECT_EQ(Figure(FigureBox::kText4), std::to_string(step.lines.size()));
    std::map<ino_t, std::set<std::string>> by_file;
    std::set<std::string> in_snapshot;
    for (const std::string& name : names) {
      by_file[StatNotFollowingLinks(Dst(name)).st_ino].insert(name);
      if (testing::Exists(Dst(name)) &&
          StatNotFollowingLinks(Dst(name)).st_ino ==
              StatNotFollowingLinks(tree.root() + "/snap/" + name).st_ino)
        in_snapshot.insert(name);
    }
    std::set<std::set<std::string>> groups;
    for (const auto& [inode, group] : by_file) groups.insert(group);
    EXPECT_EQ(groups, step.groups);
    EXPECT_EQ(in_snapshot, step.in_snapshot);
    // Only names copied, not linked to their group's copy, have content
    // written.
    bool written = false;
    for (size_t call = calls; call < platform.calls().size(); ++call)
      written = written || platform.calls()[call].starts_with("write ");
    EXPECT_EQ(written, step.copies_content);
    for (const std::string& name : names) {
      if (name != "alone" && name != "other" && testing::Exists(Src(name)) &&
          testing::Exists(Dst(name))) {
        EXPECT_EQ(ReadFile(Dst(name)), "shared");
      }
    }
  }
  window.on_process_events = nullptr;
  platform.before_call = nullptr;
  EXPECT_EQ(Mode(Dst("alone")), 0600u);
  EXPECT_NE(Mode(tree.root() + "/snap/alone"), 0600u);
}

TEST_F(FaithfulTest,
       AttributesCapabilitiesAndAclsAreKeptAndLaterChangesCarried) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for capabilities";
  tree.Write("src/noted", "x");
  tree.Write("src/tool", "#!/bin/sh\n");
  tree.Write("src/shared/plain", "y");
  tree.Write("src/shared/bare", "z");
  ASSERT_EQ(setxattr(Src("noted").c_str(), "user.origin", "camera", 6, 0), 0);
  // Owned by someone else, as a capability outlives only the change of
  // owner made before it.
  ASSERT_EQ(chown(Src("tool").c_str(), 4242, 4243), 0);
  ASSERT_TRUE(Shell("setcap cap_net_raw+ep '" + Src("tool") + "'"));
  ASSERT_TRUE(Shell("setfacl -m u:4242:rwx,g::r-x '" + Src("shared") +
                    "' && setfacl -d -m u:4242:r-x '" + Src("shared") +
                    "' && chmod 0750 '" + Src("shared") + "'"));
  const auto expect_kept = [&](const std::string& name) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Attributes(Src(name)).empty());
    EXPECT_EQ(Attributes(Dst(name)), Attributes(Src(name)));
    EXPECT_EQ(Mode(Dst(name)), Mode(Src(name)));
    EXPECT_EQ(StatNotFollowingLinks(Dst(name)).st_uid,
              StatNotFollowingLinks(Src(name)).st_uid);
  };
  Go();
  for (const char* name : {"noted", "tool", "shared"}) expect_kept(name);

  // Changed after the backup, content and times untouched: carried over
  // without a copy or a line.
  ASSERT_TRUE(StatusClockTicks(tree.Write("clock", "")));
  const ino_t noted = StatNotFollowingLinks(Dst("noted")).st_ino;
  const int64_t mtime = MtimeNs(Dst("noted"));
  ASSERT_EQ(chmod(Src("noted").c_str(), 0600), 0);
  ASSERT_TRUE(Shell("setfacl -m u:4242:r '" + Src("shared/plain") + "'"));
  ASSERT_EQ(setxattr(Src("shared").c_str(), "user.note", "kept", 4, 0), 0);
  Go(true);
  for (const char* name : {"noted", "shared/plain", "shared"})
    expect_kept(name);
  EXPECT_EQ(CopyLines(), std::vector<std::string>{});
  EXPECT_EQ(StatNotFollowingLinks(Dst("noted")).st_ino, noted);
  EXPECT_EQ(MtimeNs(Dst("noted")), mtime);
  EXPECT_EQ(Count(List3(), "Error"), 0);

  // Copied again into a folder whose default list a new file inherits: the
  // copy of a file without attributes ends without any too.
  Go();
  EXPECT_TRUE(Attributes(Dst("shared/bare")).empty());
}

// A destination that has no room for a large attribute, as ext4 for one
// of 20 KB.
class NoRoomForLargeAttributes : public testing::FaultyPlatform {
 public:
  size_t room = 0;
  int SetAttribute(Handle dir, const std::string& name,
                   const std::string& attribute,
                   const std::string& value) override {
    if (value.size() > room) return ENOSPC;
    return FaultyPlatform::SetAttribute(dir, name, attribute, value);
  }
};

TEST_F(FaithfulTest, AnAttributeWithoutRoomFailsTheFileButItsContentIsKept) {
  NoRoomForLargeAttributes platform;
  UsePlatform(platform);
  tree.Write("src/big", "content");
  // 20 KB where the source's file system holds that much (tmpfs, XFS).
  std::string value(20000, 'v');
  if (setxattr(Src("big").c_str(), "user.big", value.data(), value.size(), 0) !=
      0) {
    value.resize(2000);
    if (setxattr(Src("big").c_str(), "user.big", value.data(), value.size(),
                 0) != 0)
      GTEST_SKIP() << "no user attributes here";
  }
  ASSERT_EQ(chmod(Src("big").c_str(), 0640), 0);
  platform.room = value.size() / 2;
  Go();
  EXPECT_EQ(ReadFile(Dst("big")), "content");
  EXPECT_EQ(Mode(Dst("big")), 0640u);
  EXPECT_EQ(MtimeNs(Dst("big")), MtimeNs(Src("big")));
  EXPECT_TRUE(Attributes(Dst("big")).empty());
  ASSERT_EQ(window.failures.size(), 1u);
  EXPECT_EQ(window.failures[0].error, ENOSPC);
  EXPECT_EQ(window.failures[0].attribute, "user.big");
  EXPECT_TRUE(window.failures[0].content_kept);
  EXPECT_EQ(CopyLog(), "Error copying file: " + Dst("big") + "\r\n");

  // Once the source changes, a later run tries again, without copying the
  // content.
  ASSERT_TRUE(StatusClockTicks(tree.Write("clock", "")));
  platform.room = value.size();
  value.back() = 'w';  // the same value again changes nothing
  ASSERT_EQ(
      setxattr(Src("big").c_str(), "user.big", value.data(), value.size(), 0),
      0);
  window.failures.clear();
  Go(true);
  EXPECT_EQ(Attributes(Dst("big")), Attributes(Src("big")));
  EXPECT_EQ(CopyLines(), std::vector<std::string>{});
  EXPECT_TRUE(window.failures.empty());
}

TEST_F(FaithfulTest, ARestoreIntoTheOriginalBringsBackWhatChangedThere) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for owners and capabilities";
  const struct {
    const char* change;  // run in the original folder after its backup
    bool check_attributes;
  } rows[] = {
      {"chmod 666 secret.txt", false},
      {"chown 1:1 secret.txt", false},
      {"setfacl -b secret.txt", true},
      {"setfattr -x user.origin secret.txt", true},
      {"setcap -r tool", true},
  };
  int row = 0;
  for (const auto& change : rows) {
    SCOPED_TRACE(change.change);
    const std::string name = "row" + std::to_string(row++);
    UseCase(name);
    tree.Write(name + "/src/secret.txt", "s");
    tree.Write(name + "/src/tool", "#!/bin/sh\n");
    ASSERT_EQ(chmod(Src("secret.txt").c_str(), 0640), 0);
    ASSERT_EQ(
        setxattr(Src("secret.txt").c_str(), "user.origin", "camera", 6, 0), 0);
    ASSERT_TRUE(Shell("setfacl -m u:4242:r '" + Src("secret.txt") + "'"));
    ASSERT_EQ(chown(Src("tool").c_str(), 4242, 4243), 0);
    ASSERT_TRUE(Shell("setcap cap_net_raw+ep '" + Src("tool") + "'"));
    window.check_attributes = false;
    Go();
    ASSERT_TRUE(Shell("cd '" + Src("") + "' && " + change.change));
    // Back from the backup into the original folder.
    window.text1 = Dst();
    window.text2 = Src("");
    window.check_attributes = change.check_attributes;
    const ino_t inode = StatNotFollowingLinks(Src("secret.txt")).st_ino;
    Go(true);
    window.text1 = Src("");
    window.text2 = Dst();
    EXPECT_EQ(CopyLines(), std::vector<std::string>{});
    EXPECT_EQ(Count(List3(), "Error"), 0);
    EXPECT_EQ(StatNotFollowingLinks(Src("secret.txt")).st_ino, inode);
    for (const char* name : {"secret.txt", "tool"}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(Attributes(Src(name)), Attributes(Dst(name)));
      EXPECT_EQ(Mode(Src(name)), Mode(Dst(name)));
      EXPECT_EQ(StatNotFollowingLinks(Src(name)).st_uid,
                StatNotFollowingLinks(Dst(name)).st_uid);
      EXPECT_EQ(StatNotFollowingLinks(Src(name)).st_gid,
                StatNotFollowingLinks(Dst(name)).st_gid);
    }
  }
  window.check_attributes = false;
}

// Lists every folder backwards when `reverse` says so, and lets a test act
// while the drive is asked whether a folder ignores case.
class ListingPlatform : public FaultyPlatform {
 public:
  bool reverse = false;
  std::function<void()> on_folds_case;
  int FolderFoldsCase(Handle dir, bool* folds) override {
    if (on_folds_case) on_folds_case();
    return FaultyPlatform::FolderFoldsCase(dir, folds);
  }
  int ListFolder(Handle dir, std::vector<DirEntry>* entries,
                 FileId* self) override {
    const int error = FaultyPlatform::ListFolder(dir, entries, self);
    if (reverse) std::reverse(entries->begin(), entries->end());
    return error;
  }
};

class FolderTest : public RunFixture {
 protected:
  FolderTest() { UsePlatform(platform); }

  ListingPlatform platform;
};

TEST_F(FolderTest, EachFolderGetsItsSourceBitsTimeAndAsRootOwnerInAnyOrder) {
  const bool root = geteuid() == 0;
  // "a b", "a.b" and "ab" sort around "a/"; met before or after "a", each
  // is a folder of its own, and "a/b" keeps its own bits.
  const std::pair<const char*, unsigned> folders[] = {
      {"private", 0700}, {"group", 0750}, {"readonly", 0555}, {"shared", 02775},
      {"sticky", 01777}, {"a/b/c", 0700}, {"a/b", 0755},      {"a", 0711},
      {"a b", 0705},     {"a.b", 0701},   {"ab", 0713},       {"", 0750}};
  int64_t time = 1'600'000'000'123'456'789;
  for (const bool reverse : {false, true}) {
    SCOPED_TRACE(reverse);
    UseCase(reverse ? "reversed" : "listed");
    platform.reverse = reverse;
    for (const char* file :
         {"private/notes.txt", "group/g", "readonly/r", "shared/s", "sticky/t",
          "a/b/c/deep", "a b/f", "a.b/f", "ab/f"})
      testing::WriteFile(Src(file), "x");
    for (const auto& [folder, mode] : folders) {  // deepest first
      ASSERT_EQ(chmod(Src(folder).c_str(), mode), 0);
      testing::SetMtimeNs(Src(folder), time += 1'000'000'001);
    }
    ASSERT_EQ(root ? chown(Src("private").c_str(), kOtherUser, 4243) : 0, 0);
    Go();
    EXPECT_EQ(Count(List3(), "Error"), 0);
    for (const auto& [folder, mode] : folders) {
      SCOPED_TRACE(folder);
      EXPECT_EQ(Mode(Dst(folder)), mode);
      EXPECT_EQ(MtimeNs(Dst(folder)), MtimeNs(Src(folder)));
      EXPECT_EQ(StatNotFollowingLinks(Dst(folder)).st_uid,
                StatNotFollowingLinks(Src(folder)).st_uid);
      EXPECT_EQ(StatNotFollowingLinks(Dst(folder)).st_gid,
                StatNotFollowingLinks(Src(folder)).st_gid);
    }
  }
}

TEST_F(FolderTest, AFolderIsOwnerOnlyUntilDoneAndAnUnchangedOneIsLeftAlone) {
  tree.Write("src/private/notes.txt", "secret");
  tree.Write("src/open/readme", "hello");
  for (const char* folder : {"", "private"})
    ASSERT_EQ(chmod(Src(folder).c_str(), 0700), 0);
  ASSERT_EQ(chmod(Src("open").c_str(), 0755), 0);
  // The modes of a file's destination folder and of the root while the file
  // is copied, by file.
  std::map<std::string, std::vector<unsigned>> while_copied;
  int folder_changes = 0;
  std::string made;  // a folder just made, and its mode when next opened
  std::vector<unsigned> when_made;
  platform.before_call = [&](Kind kind, const std::string& name) {
    if (kind == Kind::kMkdir) made = name;
    if (kind == Kind::kOpen && !made.empty() && name == made) {
      when_made.push_back(Mode(made == "dst" ? Dst() : Dst(made)));
      made.clear();
    }
    if (kind == Kind::kRead && (name == "notes.txt" || name == "readme")) {
      const std::string folder = name == "readme" ? "open" : "private";
      while_copied[name].push_back(Mode(Dst(folder)));
      while_copied[name].push_back(Mode(Dst()));
    }
    if ((kind == Kind::kSetTimes || kind == Kind::kSetOwner) &&
        !IsTempName(name))
      ++folder_changes;
  };
  Go();
  EXPECT_EQ(when_made, std::vector<unsigned>(3, 0700));  // the root too
  // One the user opened to all, one closed: both owner-only while written.
  ASSERT_EQ(chmod(Dst("private").c_str(), 0777), 0);
  ASSERT_EQ(chmod(Dst("open").c_str(), 0700), 0);
  tree.Write("src/private/notes.txt", "new secret");
  tree.Write("src/open/readme", "hello again");
  Go(true);
  EXPECT_EQ(Count(List3(), "Error"), 0);
  for (const char* name : {"notes.txt", "readme"})
    EXPECT_EQ(while_copied[name], std::vector<unsigned>(4, 0700)) << name;
  EXPECT_EQ(Mode(Dst("private")), 0700u);
  EXPECT_EQ(Mode(Dst("open")), 0755u);
  EXPECT_EQ(Mode(Dst()), 0700u);
  folder_changes = 0;
  Go(true);
  // Only the folder where the run probed whether the drive tells letter
  // case apart has a new time to put right.
  EXPECT_LE(folder_changes, 1);
}

TEST_F(FolderTest, AfterAStopNothingIsMadeAndNoFolderIsMoreOpenThanItsSource) {
  // Stopped while a file of a read-only folder is copied; while new folders
  // are made ("ro" was opened to its owner for the copy); while the drive is
  // asked whether it ignores case, before and while its probe file is made
  // (then only removed); while the destination itself is made (then not even
  // opened), and while the levels of its path are reached (then not reached).
  const std::tuple<const char*, Kind, const char*> cases[] = {
      {"f", Kind::kRead, "f"},       {"new", Kind::kMkdir, "new"},
      {"case", Kind::kNone, "case"}, {"temp", Kind::kOpen, "probe"},
      {"dst", Kind::kMkdir, "root"}, {"levels", Kind::kOpen, "levels"}};
  for (const auto& [stop_at, kind, case_folder] : cases) {
    SCOPED_TRACE(stop_at);
    UseCase(case_folder);
    testing::WriteFile(Src("ro/f"), "first");
    testing::WriteFile(Src("z/keep"), "k");
    ASSERT_EQ(chmod(Src("ro").c_str(), 0555), 0);
    if (std::string(stop_at) != "dst") Go();
    ASSERT_EQ(chmod(Src("ro").c_str(), 0755), 0);
    testing::WriteFile(Src("ro/f"), "second");
    testing::WriteFile(Src("z/new/deeper/g"), "g");
    ASSERT_EQ(chmod(Src("ro").c_str(), 0555), 0);
    ASSERT_EQ(setxattr(Src("z/new").c_str(), "user.origin", "camera", 6, 0), 0);
    // Hooks run on the look-ahead's threads too.
    std::atomic<bool> stopped = false;
    std::vector<std::string> after_stop;  // folders made or opened, copies
    platform.before_call = [&](Kind call, std::string name) {
      // Temporary names, the probe's in capitals too, all go as "temp".
      std::string lower = name;
      for (char& c : lower) c = static_cast<char>(std::tolower(c));
      if (IsTempName(lower)) name = "temp";
      if (stopped &&
          (call == Kind::kMkdir ||
           (call == Kind::kOpen && (name == "temp" || name == "dst")) ||
           (call == Kind::kStat && name == "temp")))
        after_stop.push_back(name);
      if (call == kind && name == stop_at && !stopped.exchange(true))
        run->Command2_Click();
    };
    platform.on_folds_case = [&] {
      if (kind == Kind::kNone && !stopped.exchange(true)) run->Command2_Click();
    };
    Go(true);
    EXPECT_TRUE(run->LastOutcome().stopped);
    EXPECT_EQ(after_stop, std::vector<std::string>());
    EXPECT_EQ(access(Dst("z/new/deeper").c_str(), F_OK), -1);
    for (const char* folder : {"", "ro", "z", "z/new"}) {
      if (access(Dst(folder).c_str(), F_OK) != 0) continue;
      EXPECT_EQ(Mode(Dst(folder)) & ~Mode(Src(folder)), 0u) << folder;
    }
    // The next run finishes what the stopped one left.
    platform.Heal();
    platform.on_folds_case = nullptr;
    Go(true);
    for (const char* folder : {"", "ro", "z", "z/new", "z/new/deeper"}) {
      EXPECT_EQ(Mode(Dst(folder)), Mode(Src(folder))) << folder;
      EXPECT_EQ(MtimeNs(Dst(folder)), MtimeNs(Src(folder))) << folder;
    }
    char value[16] = "";
    EXPECT_EQ(
        getxattr(Dst("z/new").c_str(), "user.origin", value, sizeof value), 6);
  }
}

TEST_F(FolderTest, ASecondUserBacksUpReadOnlyFoldersAgainAndKeepsNoRootSetId) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // Files just written look left alone, as root's file cannot be leased.
  platform.status_age_s = 10;
  tree.Write("src/ro/f", "first");
  tree.Write("src/tool", "#!/bin/sh\n");
  ASSERT_EQ(chmod(Src("tool").c_str(), 04755), 0);  // root's
  ASSERT_EQ(chmod(Src("ro").c_str(), 0555), 0);
  // The other user owns the temporary tree (not what is in it), its
  // source folder "ro" and its file, and the copy log's folder.
  for (const std::string& path :
       {tree.root(), Src("ro"), Src("ro/f"), Program()})
    ASSERT_EQ(chown(path.c_str(), kOtherUser, kOtherUser), 0) << path;
  auto backup = [&](bool incremental) {
    return testing::AsOtherUser([&] {
      Go(incremental);
      const bool ok = Count(List3(), "Error") == 0;
      for (const std::string& line : List3())
        if (!ok) std::fprintf(stderr, "%s\n", line.c_str());
      return ok;
    });
  };
  ASSERT_TRUE(backup(false));
  EXPECT_EQ(Mode(Dst("ro")), 0555u);
  EXPECT_EQ(Mode(Dst("tool")), 0755u);
  EXPECT_EQ(StatNotFollowingLinks(Dst("tool")).st_uid, kOtherUser);
  // Changed inside a read-only folder, and a new subfolder in it.
  ASSERT_EQ(chmod(Src("ro").c_str(), 0755), 0);
  tree.Write("src/ro/f", "second");
  tree.Write("src/ro/new/g", "g");
  ASSERT_EQ(chmod(Src("ro").c_str(), 0555), 0);
  ASSERT_TRUE(backup(true));
  EXPECT_EQ(testing::ReadFile(Dst("ro/f")), "second");
  EXPECT_EQ(testing::ReadFile(Dst("ro/new/g")), "g");
  EXPECT_EQ(Mode(Dst("ro")), 0555u);
}

TEST_F(FolderTest, AFolderTheUserCannotListFailsAsPermissionDenied) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  tree.Write("src/f", "f");
  tree.Write("src/locked/g", "g");
  // Root's, and only to be passed through.
  ASSERT_EQ(chmod(Src("locked").c_str(), 0711), 0);
  for (const std::string& path : {tree.root(), Src(""), Src("f"), Program()})
    ASSERT_EQ(chown(path.c_str(), kOtherUser, kOtherUser), 0) << path;
  EXPECT_TRUE(testing::AsOtherUser([&] {
    Go();
    bool denied = false;
    for (const Failure& failure : window.failures)
      denied = denied || (failure.error == EACCES &&
                          failure.path.find("locked") != std::string::npos);
    return denied && window.failures.size() == 1;
  }));
}

}  // namespace
}  // namespace ferrybox
