// SPDX-License-Identifier: GPL-3.0-or-later
// ferrybox-cli in-process, on real temporary trees.
#include "cli/run_cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "engine/backup_run.h"
#include "engine/copy_log.h"
#include "engine/file_copy.h"
#include "engine/message_lists.h"
#include "platform/platform.h"
#include "settings/profile.h"
#include "tests/support/child_process.h"
#include "tests/support/memory_window.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using Kind = testing::FaultyPlatform::Kind;
using testing::ReadFile;
using testing::SplitLines;
using testing::WriteFile;

// The start and closing lines carry the time; everything else is exact.
std::vector<std::string> WithoutTimes(std::vector<std::string> lines) {
  for (std::string& line : lines) {
    if (line.starts_with("Starting copy: ")) line = "Starting copy: <time>";
    if (line.starts_with("Finished....in :")) line = "Finished....in :<s>";
  }
  return lines;
}

class RunCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(src_ + "/a.txt", "alpha");
    WriteFile(src_ + "/sub/deeper/c d.txt", "c and d");
  }

  int Run(const std::vector<std::string>& args,
          Platform& platform = DefaultPlatform(),
          std::function<bool()> stop_requested = nullptr) {
    out_.str("");
    err_.str("");
    CliContext context{out_, err_};
    context.err_is_terminal = err_is_terminal_;
    context.program_folder = [this] { return program_.root(); };
    context.platform = &platform;
    context.stop_requested = std::move(stop_requested);
    return RunCli(args, context);
  }

  std::vector<std::string> OutLines() const { return SplitLines(out_.str()); }

  testing::TempTree program_;
  testing::TempTree trees_;
  std::string src_ = trees_.Path("src");
  std::string dst_ = trees_.Path("dst");
  std::ostringstream out_;
  std::ostringstream err_;
  bool err_is_terminal_ = false;
};

TEST_F(RunCliTest, OutputIsExactlyTheListLinesFileLinesOnlyOnRequest) {
  // The same run through an in-memory window with both boxes ticked, then
  // through the command line into the same (again empty) destination.
  testing::MemoryWindow window;
  window.text1 = src_;
  window.text2 = dst_;
  window.check[0] = window.check[1] = 1;
  MessageLists lists(window);
  BackupRun run(window, lists, DefaultPlatform(), program_.root());
  run.Command3_Click();
  std::filesystem::rename(dst_, trees_.Path("first"));

  EXPECT_EQ(Run({"--show-files", src_, dst_}), kExitOk);
  EXPECT_EQ(WithoutTimes(OutLines()), WithoutTimes(window.all_lines));
  EXPECT_NE(out_.str().find(src_ + "/sub/deeper/c d.txt\n"), std::string::npos);

  // Only on a terminal is the progress line shown, and cleared at the end.
  for (bool terminal : {false, true}) {
    SCOPED_TRACE(terminal);
    err_is_terminal_ = terminal;
    EXPECT_EQ(Run({src_, dst_}), kExitOk);
    EXPECT_EQ(
        WithoutTimes(OutLines()),
        (std::vector<std::string>{"Starting copy: <time>", "Please wait...",
                                  "Finished....in :<s>"}));
    const std::string err = err_.str();
    EXPECT_TRUE(terminal ? err.starts_with("\rScanning files...") &&
                               err.ends_with("\r\x1b[K")
                         : err.empty())
        << err;
  }
}

TEST_F(RunCliTest, WrongArgumentsUnknownProfilesAndRefusedRunsExitWithTwo) {
  WriteFile(trees_.Path("outside.prf"),
            src_ + "\r\n" + dst_ + "\r\n 0 \r\n 0 \r\n 0 \r\n");
  const std::string damaged = ProfilePath(program_.root(), "damaged");
  WriteFile(damaged, std::string(65 << 10, '\n'));
  // A profile is not typed in a shell: its folders are taken as they are,
  // as the window takes them.
  WriteFile(ProfilePath(program_.root(), "relative"),
            "src\r\ndst\r\n 0 \r\n 0 \r\n 0 \r\n");
  struct Case {
    std::vector<std::string> args;
    std::string explanation;
  };
  const Case cases[] = {
      {{"--bad\noption"}, "unknown option --bad\\x0aoption\nUsage: "},
      {{"--profile", "damaged"}, damaged + " is damaged: larger than 64 KiB\n"},
      {{"--profile", "nothing"}, "no profile \"nothing\""},
      {{"--profile", "../outside"}, "not a profile name"},
      {{"--profile", "relative"},
       std::string("refused: ") + kSourceNotFullPath},
      {{trees_.Path("missing"), dst_},
       std::string("refused: ") + kSourceFolderNotFound},
      {{src_, src_ + "/"}, std::string("refused: ") + kSameFolder},
      {{src_ + "/../src", trees_.root()},
       std::string("refused: ") + kSourceInsideDestination},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.explanation);
    EXPECT_EQ(Run(c.args), kExitRefused);
    EXPECT_TRUE(err_.str().starts_with("ferrybox-cli: ")) << err_.str();
    EXPECT_NE(err_.str().find(c.explanation), std::string::npos) << err_.str();
    if (c.explanation.starts_with("refused: ")) {  // the run itself started
      EXPECT_TRUE(OutLines().back().starts_with("Finished....in :"));
    } else {
      EXPECT_EQ(out_.str(), "");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dst_));
  EXPECT_FALSE(std::filesystem::exists(src_ + "/src"));

  EXPECT_EQ(Run({"--version"}), kExitOk);
  EXPECT_EQ(out_.str(), "1.1.28\n");
}

TEST_F(RunCliTest, EachFailedCopySaysWhyOnOneLineAndTheSummaryCountsReasons) {
  // A name that would end the output early if written as it is.
  const std::string evil = "evil\nFinished....in :0.00 seconds\x1b[2J";
  const std::string shown = "evil\\x0aFinished....in :0.00 seconds\\x1b[2J";
  WriteFile(src_ + "/" + evil, "e");
  WriteFile(src_ + "/ok.txt", "ok");
  // Neither a folder in the way of a copy nor a file in the way of a folder
  // is replaced; a planted link is, itself.
  WriteFile(dst_ + "/a.txt/keep", "in the way");
  WriteFile(dst_ + "/" + evil + "/keep", "in the way");
  WriteFile(dst_ + "/sub/deeper", "in the way");
  std::filesystem::create_symlink("elsewhere", dst_ + "/ok.txt");

  EXPECT_EQ(Run({"--show-files", src_, dst_}), kExitCopyFailed);
  const std::vector<std::string> out = OutLines();
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    EXPECT_FALSE(out[i].starts_with("Finished")) << out[i];
    EXPECT_EQ(out[i].find('\x1b'), std::string::npos) << out[i];
  }
  EXPECT_TRUE(out.back().starts_with("Finished....in :"));
  EXPECT_NE(out_.str().find("\n" + src_ + "/" + shown + "\n"),
            std::string::npos);
  EXPECT_NE(
      out_.str().find("\nError copying file: " + dst_ + "/" + shown + "\n"),
      std::string::npos)
      << out_.str();
  const std::string log = CopyLogPath(program_.root());
  EXPECT_EQ(SplitLines(ReadFile(log)).size(), 3u);
  EXPECT_EQ(ReadFile(dst_ + "/ok.txt"), "ok");
  EXPECT_TRUE(std::filesystem::is_regular_file(
      std::filesystem::symlink_status(dst_ + "/ok.txt")));

  std::vector<std::string> err = SplitLines(err_.str());
  ASSERT_EQ(err.size(), 4u) << err_.str();
  EXPECT_EQ(err.back(),
            "ferrybox-cli: 3 copies failed (Is a directory: 2, Not a "
            "directory: 1); the copy log lists them: " +
                log);
  err.pop_back();
  const auto line = [this](const std::string& name, const char* reason) {
    return "ferrybox-cli: cannot copy " + src_ + "/" + name + " to " + dst_ +
           "/" + name + ": " + reason;
  };
  EXPECT_EQ(std::set<std::string>(err.begin(), err.end()),
            (std::set<std::string>{
                line("a.txt", "Is a directory"), line(shown, "Is a directory"),
                line("sub/deeper/c d.txt", "Not a directory")}));

  // A copy log that cannot be written is not said to list anything.
  std::filesystem::remove(log);
  std::filesystem::create_directory(log);
  EXPECT_EQ(Run({src_, dst_}), kExitCopyFailed);
  EXPECT_TRUE(err_.str().ends_with(
      "; the copy log could not be written: " + log + ": Is a directory\n"))
      << err_.str();
}

TEST_F(RunCliTest, ProfilesRunWithTheirFoldersAndBoxes) {
  // Folders, then only the source list's Show Files ticked.
  WriteFile(ProfilesFolder(program_.root()) + "/work.prf",
            src_ + "\r\n" + dst_ + "\r\n 1 \r\n 0 \r\n 0 \r\n");

  for (const std::string name : {"work", "work.prf"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Run({"--profile", name}), kExitOk) << err_.str();
    EXPECT_NE(out_.str().find(src_ + "/a.txt\n"), std::string::npos)
        << "Show Files came from the profile: " << out_.str();
  }
  EXPECT_EQ(ReadFile(dst_ + "/a.txt"), "alpha");
}

TEST_F(RunCliTest, CommandLineFoldersAreJoinedToTheWorkingFolder) {
  const std::filesystem::path earlier = std::filesystem::current_path();
  std::filesystem::current_path(trees_.root());
  const std::string work = std::filesystem::current_path().string();
  const int exit = Run({"--show-files", "src", "sub/../dst"});
  std::filesystem::current_path(earlier);
  EXPECT_EQ(exit, kExitOk) << err_.str();
  EXPECT_EQ(ReadFile(dst_ + "/a.txt"), "alpha");
  // Joined as written: ".." is left for the file system to follow.
  const std::vector<std::string> lines = OutLines();
  for (const std::string& line :
       {work + "/src/a.txt",
        "New File, Copying: " + work + "/sub/../dst/a.txt"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
}

TEST_F(RunCliTest, AStopEndsTheScanAtOnceOrBreaksOffTheFileInHandAndNamesIt) {
  const std::string large = "/sub/deeper/last/large";
  WriteFile(src_ + large, std::string(3 * kCopyChunk, 'l'));
  // Each folder takes longer to list than the scan goes without a tick; the
  // large file is read slowly enough for the stop to be seen while it is
  // copied.
  for (const Kind slow : {Kind::kList, Kind::kRead}) {
    SCOPED_TRACE(slow == Kind::kList ? "scan" : "copy");
    testing::FaultyPlatform platform;
    platform.chunk_limit = 1 << 20;
    std::atomic<int> slowed{0};
    platform.before_call = [&](Kind kind, const std::string& name) {
      if (kind != slow || (kind == Kind::kRead && name != "large")) return;
      ++slowed;
      std::this_thread::sleep_for(
          std::chrono::milliseconds(kind == Kind::kList ? 120 : 40));
    };
    EXPECT_EQ(Run({src_, dst_}, platform, [&slowed] { return slowed > 0; }),
              kExitStopped);
    EXPECT_FALSE(testing::Exists(dst_ + large));
    if (slow == Kind::kList) {
      EXPECT_EQ(slowed, 1) << "the scan went on after the stop";
      EXPECT_FALSE(testing::Exists(dst_));
    } else {
      EXPECT_NE(err_.str().find(src_ + large), std::string::npos) << err_.str();
      EXPECT_TRUE(OutLines().back().starts_with("Finished....in :"));
    }
  }
}

}  // namespace
}  // namespace ferrybox
