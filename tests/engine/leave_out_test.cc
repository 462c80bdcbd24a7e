// SPDX-License-Identifier: GPL-3.0-or-later
// What a run leaves out: the patterns, cache folders, and that nothing left
// out is read or touched.
#include "engine/leave_out.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using Verdict = LeaveOutVerdict;

// (pattern list, path below the source root, verdict)
using PatternCase = std::tuple<std::vector<std::string>, std::string, Verdict>;

class PatternTable : public ::testing::TestWithParam<PatternCase> {};

TEST_P(PatternTable, ChecksThePathAsTheSyntaxSays) {
  const auto& [patterns, path, verdict] = GetParam();
  EXPECT_EQ(LeaveOutList(LeaveOutOptions{patterns}).Check(path), verdict)
      << "path " << path;
}

constexpr Verdict kKeep = Verdict::kKeep;
constexpr Verdict kOut = Verdict::kLeaveOut;
constexpr Verdict kIfFolder = Verdict::kLeaveOutIfFolder;

INSTANTIATE_TEST_SUITE_P(
    Syntax, PatternTable,
    ::testing::Values(
        // Blank lines, comments and trailing spaces say nothing.
        PatternCase{{"", "   ", "#cache"}, "#cache", kKeep},
        PatternCase{{"\\#cache"}, "#cache", kOut},
        PatternCase{{"cache   "}, "cache", kOut},
        PatternCase{{"cache\\ "}, "cache", kKeep},
        PatternCase{{"cache\\ "}, "cache ", kOut},
        // No negation: "!" is a character like any other.
        PatternCase{{"*.o", "!keep.o"}, "keep.o", kOut},
        PatternCase{{"!keep.o"}, "!keep.o", kOut},
        // *, ? and [...] stay within one name, at any depth.
        PatternCase{{"*.tmp"}, "a/b/x.tmp", kOut},
        PatternCase{{"*.tmp"}, "x.tmp/y", kKeep},
        PatternCase{{"*.tmp"}, ".tmp", kOut},
        PatternCase{{"?.log"}, "a.log", kOut},
        PatternCase{{"?.log"}, "ab.log", kKeep},
        PatternCase{{"?.log"}, "\xc3\xa9.log", kOut},  // one character
        PatternCase{{"[Tt]humbs.db"}, "thumbs.db", kOut},
        PatternCase{{"[!T]humbs.db"}, "Thumbs.db", kKeep},
        PatternCase{{"node_modules"}, "web/node_modules", kOut},
        // A "/" at the start or in the middle anchors at the source root.
        PatternCase{{"/build"}, "build", kOut},
        PatternCase{{"/build"}, "app/build", kKeep},
        PatternCase{{"app/build"}, "app/build", kOut},
        PatternCase{{"app/build"}, "x/app/build", kKeep},
        PatternCase{{"a/*/c"}, "a/b/c", kOut},
        PatternCase{{"a/*/c"}, "a/b/x/c", kKeep},
        // ** crosses folders: none or more at the start or in the middle,
        // one or more at the end.
        PatternCase{{"**/cache"}, "cache", kOut},
        PatternCase{{"**/cache"}, "a/b/cache", kOut},
        PatternCase{{"a/**/c"}, "a/c", kOut},
        PatternCase{{"a/**/c"}, "a/x/y/c", kOut},
        PatternCase{{"a/**/c"}, "b/x/c", kKeep},
        PatternCase{{"a/**"}, "a/x/y", kOut}, PatternCase{{"a/**"}, "a", kKeep},
        PatternCase{{"a**b"}, "axyb", kOut},
        // A trailing "/" matches folders only, as the walk then tells.
        PatternCase{{"target/"}, "rust/target", kIfFolder},
        PatternCase{{"/out/"}, "out", kIfFolder},
        PatternCase{{"target/", "target"}, "target", kOut},
        // A byte that is not UTF-8 matches itself and "*", nothing else.
        PatternCase{{"a\xff"}, "a\xff", kOut},
        PatternCase{{"a*"}, "a\xff", kOut},
        PatternCase{{"*.txt"}, "\xff\xc3\xa9.txt", kOut},
        PatternCase{{"a?"}, "a\xff", kKeep},
        PatternCase{{"a[!x]"}, "a\xff", kKeep},
        PatternCase{{"a\\\xff?"}, "a\xff\xc3\xa9", kOut},
        PatternCase{{"a*b"},
                    "a\xff\xfe"
                    "b",
                    kOut},
        PatternCase{{"a?b"},
                    "a\xff"
                    "b",
                    kKeep}));

class LeaveOutRunTest : public RunFixture {
 protected:
  std::vector<std::string> List1() { return window.List(ListBox::kList1); }
};

// A folder left out is never listed nor entered: below it, nothing is
// called on any name, but for a cache folder its tag.
TEST_F(LeaveOutRunTest, AFolderLeftOutIsNeverRead) {
  struct Case {
    const char* name;
    LeaveOutOptions options;
    bool tag_read;
    // Whether the folder itself may be named: a pattern for any entry
    // costs no lookup at all, one for folders only the lookup of its type.
    bool named;
  };
  const std::string tag(kCacheTagSignature);
  for (const Case& c :
       {Case{"pattern", {{"skipped"}, false}, false, false},
        Case{"folders-only", {{"skipped/"}, false}, false, true},
        Case{"anchored", {{"/skipped"}, false}, false, false},
        Case{"cache", {{}, true}, true, true}}) {
    SCOPED_TRACE(c.name);
    UseCase(c.name);
    tree.Write(std::string(c.name) + "/src/kept/file", "k");
    tree.Write(std::string(c.name) + "/src/skipped/" + kCacheTagName,
               tag + "\nmore");
    tree.Write(std::string(c.name) + "/src/skipped/inner", "i");
    tree.Write(std::string(c.name) + "/src/skipped/below/deep", "d");
    testing::FaultyPlatform platform;
    platform.hide_entry_types = true;  // every type costs a lookup
    UsePlatform(platform);
    window.leave_out = c.options;
    Go();
    bool tag_read = false;
    for (const std::string& call : platform.calls()) {
      EXPECT_EQ(call.find("inner"), std::string::npos) << call;
      EXPECT_EQ(call.find("below"), std::string::npos) << call;
      EXPECT_NE(call, "list skipped");
      if (!c.named) {
        EXPECT_EQ(call.find("skipped"), std::string::npos) << call;
      }
      if (call == std::string("read ") + kCacheTagName) tag_read = true;
    }
    EXPECT_EQ(tag_read, c.tag_read);
    EXPECT_EQ(List1(), std::vector<std::string>{Src("kept/file")});
    EXPECT_EQ(testing::Entries(Dst(), true),
              (std::set<std::string>{"kept", "kept/file"}));
    ASSERT_GE(List3().size(), 2u);
    EXPECT_EQ(List3()[List3().size() - 2], "Left out: 1 files and folders");
    UsePlatform(DefaultPlatform());
  }
}

// Only a tag that begins with the exact signature makes a cache folder.
TEST_F(LeaveOutRunTest, OnlyTheExactCacheSignatureLeavesAFolderOut) {
  const std::string signature(kCacheTagSignature);
  std::string wrong = signature;
  wrong.back() = '4';
  tree.Write("src/cache/" + std::string(kCacheTagName), signature + "\n");
  tree.Write("src/cache/x", "x");
  tree.Write("src/short/" + std::string(kCacheTagName),
             signature.substr(0, 42));
  tree.Write("src/short/x", "x");
  tree.Write("src/other/" + std::string(kCacheTagName), wrong + "\n");
  tree.Write("src/other/x", "x");
  tree.Write("src/later/" + std::string(kCacheTagName), "#\n" + signature);
  tree.Write("src/later/x", "x");
  window.leave_out.cache_folders = true;
  Go();
  EXPECT_FALSE(testing::Exists(Dst("cache")));
  for (const char* copied : {"short/x", "other/x", "later/x"})
    EXPECT_EQ(testing::ReadFile(Dst(copied)), "x") << copied;
  EXPECT_EQ(Count(List3(), "Left out: 1 files and folders"), 1);
}

// Leaving out never deletes: copies already in the backup stay as they
// are, and a run with nothing left out says nothing about it.
TEST_F(LeaveOutRunTest, CopiesAlreadyInTheBackupStayUntouched) {
  tree.Write("src/keep.txt", "new");
  tree.Write("src/old.tmp", "new");
  tree.Write("src/build/a", "new");
  tree.Write("src/build/b", "new");
  Go();
  EXPECT_EQ(Count(List3(), "Left out"), 0);
  tree.Write("src/old.tmp", "newer");
  tree.Write("src/build/a", "newer");
  const int64_t stored = testing::MtimeNs(Dst("build/a"));
  window.leave_out.patterns = {"*.tmp", "build/"};
  Go(/*incremental=*/true);
  EXPECT_EQ(testing::ReadFile(Dst("old.tmp")), "new");
  EXPECT_EQ(testing::ReadFile(Dst("build/a")), "new");
  EXPECT_EQ(testing::MtimeNs(Dst("build/a")), stored);
  EXPECT_EQ(testing::ReadFile(Dst("build/b")), "new");
  EXPECT_EQ(List1(), std::vector<std::string>{Src("keep.txt")});
  EXPECT_EQ(run->LastOutcome().left_out, 2);
  EXPECT_EQ(List3()[List3().size() - 2], "Left out: 2 files and folders");
}

}  // namespace
}  // namespace ferrybox
