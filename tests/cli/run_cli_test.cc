// ferrybox-cli in-process: arguments and streams in, exit status out, on
// real temporary trees.
#include "cli/run_cli.h"

#include <gtest/gtest.h>

#include <sstream>

#include "engine/backup_run.h"
#include "engine/copy_log.h"
#include "engine/message_lists.h"
#include "engine/platform.h"
#include "settings/profile.h"
#include "tests/cli/cli_test_support.h"
#include "tests/support/memory_window.h"

namespace ferrybox {
namespace {

using testing::ReadFile;
using testing::ScopedTempDir;
using testing::SplitLines;
using testing::TreeEntries;
using testing::WriteFile;

// Records every list line in the order the run adds it, as one stream.
class RecordingWindow : public testing::MemoryWindow {
 public:
  std::vector<std::string> lines;
  void AddItem(ListBox box, const std::string& line) override {
    MemoryWindow::AddItem(box, line);
    lines.push_back(line);
  }
};

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
    ASSERT_TRUE(program_.ok() && trees_.ok());
    src_ = trees_ / "src";
    dst_ = trees_ / "dst";
    WriteFile(src_ + "/a.txt", "alpha");
    WriteFile(src_ + "/sub/b.txt", std::string(1500, 'b'));
    WriteFile(src_ + "/sub/deeper/c d.txt", "c and d");
  }

  int Run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    CliContext context{out_, err_};
    context.err_is_terminal = err_is_terminal_;
    context.program_folder = [this] {
      ++program_folder_asked_;
      return program_.path();
    };
    context.stop_requested = [this] { return ++stop_asked_ > stop_after_; };
    context.platform = &DefaultPlatform();
    return RunCli(args, context);
  }

  std::vector<std::string> OutLines() const { return SplitLines(out_.str()); }

  ScopedTempDir program_;
  ScopedTempDir trees_;
  std::string src_;
  std::string dst_;
  std::ostringstream out_;
  std::ostringstream err_;
  bool err_is_terminal_ = false;
  int program_folder_asked_ = 0;
  int stop_asked_ = 0;
  int stop_after_ = 1 << 30;
};

TEST_F(RunCliTest, FullRunCopiesAndPrintsOnlyTheMessages) {
  EXPECT_EQ(Run({src_, dst_}), kExitOk);

  const std::vector<std::string> lines = OutLines();
  ASSERT_EQ(lines.size(), 3u) << out_.str();
  EXPECT_TRUE(lines[0].starts_with("Starting copy: ")) << lines[0];
  EXPECT_EQ(lines[1], "Please wait...");
  EXPECT_TRUE(lines[2].starts_with("Finished....in :")) << lines[2];
  EXPECT_TRUE(lines[2].ends_with(" seconds")) << lines[2];
  EXPECT_EQ(err_.str(), "");

  EXPECT_EQ(ReadFile(dst_ + "/a.txt"), "alpha");
  EXPECT_EQ(ReadFile(dst_ + "/sub/b.txt"), std::string(1500, 'b'));
  EXPECT_EQ(ReadFile(dst_ + "/sub/deeper/c d.txt"), "c and d");
  EXPECT_EQ(TreeEntries(dst_), TreeEntries(src_));
}

TEST_F(RunCliTest, ShowFilesPrintsExactlyWhatTheWindowListsShow) {
  // The same run through an in-memory window with both boxes ticked, then
  // through the command line into the same (again empty) destination.
  RecordingWindow window;
  window.text1 = src_;
  window.text2 = dst_;
  window.check[0] = window.check[1] = 1;
  MessageLists lists(window);
  BackupRun run(window, lists, DefaultPlatform(), program_.path());
  run.Command3_Click();
  std::filesystem::rename(dst_, trees_ / "first");

  EXPECT_EQ(Run({"--show-files", src_, dst_}), kExitOk);
  EXPECT_EQ(WithoutTimes(OutLines()), WithoutTimes(window.lines));
  // Each source file and its destination action are listed.
  EXPECT_NE(out_.str().find(src_ + "/sub/deeper/c d.txt\n"), std::string::npos);
  EXPECT_NE(out_.str().find(dst_ + "/sub/deeper/c d.txt"), std::string::npos);
}

TEST_F(RunCliTest, IncrementalRunCopiesOnlyWhatChanged) {
  ASSERT_EQ(Run({src_, dst_}), kExitOk);
  WriteFile(src_ + "/sub/b.txt", "changed");

  EXPECT_EQ(Run({"--incremental", "--show-files", src_, dst_}), kExitOk);
  const std::string out = out_.str();
  EXPECT_NE(out.find("Different File, Updating=" + dst_ + "/sub/b.txt\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("New File, Copying: "), std::string::npos) << out;
  EXPECT_EQ(ReadFile(dst_ + "/sub/b.txt"), "changed");

  // Without --show-files the same kind of run prints the messages only.
  EXPECT_EQ(Run({"--incremental", src_, dst_}), kExitOk);
  EXPECT_EQ(OutLines().size(), 3u) << out_.str();
}

TEST_F(RunCliTest, RefusedRunsExitWithTwoAndSayWhy) {
  struct Case {
    std::vector<std::string> args;
    std::string refusal;
  };
  const Case cases[] = {
      {{trees_ / "missing", dst_}, kSourceFolderNotFound},
      {{"", dst_}, kNoSourceFolder},
      {{src_, ""}, kNoDestinationFolder},
      {{src_, src_ + "/"}, kSameFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " -> " + c.args[1]);
    EXPECT_EQ(Run(c.args), kExitRefused);
    const std::string out = out_.str();
    EXPECT_NE(out.find(c.refusal), std::string::npos) << out;
    EXPECT_TRUE(SplitLines(out).back().starts_with("Finished....in :"));
    EXPECT_TRUE(err_.str().starts_with("ferrybox-cli: refused: " + c.refusal))
        << err_.str();
  }
  EXPECT_FALSE(std::filesystem::exists(dst_));
}

TEST_F(RunCliTest, AFailedCopyExitsWithOneAndLeavesTheOthersCopied) {
  // A folder where the file's copy should go cannot be replaced by it.
  WriteFile(dst_ + "/a.txt/keep", "in the way");

  EXPECT_EQ(Run({src_, dst_}), kExitCopyFailed);
  const std::string failure = "Error copying file: " + dst_ + "/a.txt";
  EXPECT_NE(out_.str().find(failure + "\n"), std::string::npos) << out_.str();
  EXPECT_EQ(ReadFile(CopyLogPath(program_.path())), failure + "\r\n");
  EXPECT_NE(err_.str().find("1 copy failed"), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find(CopyLogPath(program_.path())), std::string::npos);
  EXPECT_EQ(ReadFile(dst_ + "/a.txt/keep"), "in the way");
  EXPECT_EQ(ReadFile(dst_ + "/sub/deeper/c d.txt"), "c and d");
}

TEST_F(RunCliTest, AStopRequestEndsTheRunAfterTheFileInHand) {
  for (int i = 0; i < 300; ++i) {
    WriteFile(src_ + "/many/file" + std::to_string(i), std::to_string(i));
  }
  stop_after_ = 20;
  EXPECT_EQ(Run({src_, dst_}), kExitStopped);

  EXPECT_TRUE(OutLines().back().starts_with("Finished....in :"));
  EXPECT_NE(err_.str().find("stopped"), std::string::npos) << err_.str();
  // Fewer files than the tree holds, each complete, nothing else.
  const auto source = TreeEntries(src_);
  const auto copied = TreeEntries(dst_);
  size_t files = 0;
  for (const std::string& entry : copied) {
    ASSERT_TRUE(source.count(entry)) << "unexpected " << entry;
    if (std::filesystem::is_regular_file(dst_ + "/" + entry)) {
      ++files;
      EXPECT_EQ(ReadFile(dst_ + "/" + entry), ReadFile(src_ + "/" + entry));
    }
  }
  EXPECT_GT(files, 0u);
  EXPECT_LT(files, 100u);
}

TEST_F(RunCliTest, ProfilesRunWithTheirFoldersAndBoxes) {
  Profile profile;
  profile.source = src_;
  profile.destination = dst_;
  profile.check1 = 1;
  profile.check2 = 1;
  profile.check3 = 0;
  std::filesystem::create_directories(ProfilesFolder(program_.path()));
  std::string error;
  ASSERT_TRUE(
      WriteProfile(ProfilePath(program_.path(), "work"), profile, &error))
      << error;

  // By name, and by the file name the profile list shows.
  for (const std::string name : {"work", "work.prf"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Run({"--profile", name}), kExitOk) << err_.str();
    EXPECT_NE(out_.str().find(src_ + "/a.txt\n"), std::string::npos)
        << "Show Files came from the profile: " << out_.str();
  }
  EXPECT_EQ(ReadFile(dst_ + "/a.txt"), "alpha");

  // A listed file whose name only contains the extension.
  profile.check1 = profile.check2 = 0;
  profile.destination = trees_ / "other";
  ASSERT_TRUE(WriteProfile(ProfilesFolder(program_.path()) + "/old.prf.bak",
                           profile, &error));
  EXPECT_EQ(Run({"--profile=old.prf.bak"}), kExitOk) << err_.str();
  EXPECT_EQ(OutLines().size(), 3u);
  EXPECT_EQ(ReadFile(trees_ / "other/a.txt"), "alpha");
}

TEST_F(RunCliTest, UnknownDamagedOrOutsideProfilesAreRefused) {
  WriteFile(ProfilesFolder(program_.path()) + "/short.prf", "a\r\nb\r\n");
  WriteFile(trees_ / "outside.prf",
            src_ + "\r\n" + dst_ + "\r\n 0 \r\n 0 \r\n 0 \r\n");
  struct Case {
    std::string name;
    std::string explanation;
  };
  const Case cases[] = {
      {"nothing", "no profile \"nothing\""},
      {"short", "short.prf"},
      {"../outside", "not a profile name"},
      {"..", "not a profile name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Run({"--profile", c.name}), kExitRefused);
    EXPECT_EQ(out_.str(), "");
    EXPECT_TRUE(err_.str().starts_with("ferrybox-cli: ")) << err_.str();
    EXPECT_NE(err_.str().find(c.explanation), std::string::npos) << err_.str();
  }
  EXPECT_FALSE(std::filesystem::exists(dst_));
}

TEST_F(RunCliTest, HelpVersionAndUsageErrorsNeedNoProgramFolder) {
  EXPECT_EQ(Run({"--version"}), kExitOk);
  EXPECT_EQ(out_.str(), "1.1.28\n");

  EXPECT_EQ(Run({"--help"}), kExitOk);
  EXPECT_TRUE(out_.str().starts_with("Usage: ferrybox-cli [--incremental]"));
  EXPECT_NE(out_.str().find("Exit status"), std::string::npos);

  EXPECT_EQ(Run({"--incremental", src_}), kExitRefused);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(),
            "ferrybox-cli: SOURCE and DESTINATION are both needed\n"
            "Usage: ferrybox-cli [--incremental] [--show-files] SOURCE "
            "DESTINATION\n"
            "       ferrybox-cli --profile NAME\n"
            "       ferrybox-cli --help | --version\n");

  EXPECT_EQ(program_folder_asked_, 0);
  EXPECT_FALSE(std::filesystem::exists(dst_));
}

TEST_F(RunCliTest, OnATerminalTheProgressLineIsShownAndClearedAtTheEnd) {
  err_is_terminal_ = true;
  EXPECT_EQ(Run({src_, dst_}), kExitOk);
  const std::string err = err_.str();
  EXPECT_TRUE(err.starts_with("\rScanning files...")) << err;
  EXPECT_TRUE(err.ends_with("\r\x1b[K")) << err;
  EXPECT_EQ(OutLines().size(), 3u) << "standard output is unchanged";
}

}  // namespace
}  // namespace ferrybox
