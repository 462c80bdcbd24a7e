// ferrybox-cli in-process, on real temporary trees.
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
using testing::SplitLines;
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
    WriteFile(src_ + "/a.txt", "alpha");
    WriteFile(src_ + "/sub/deeper/c d.txt", "c and d");
  }

  int Run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    CliContext context{out_, err_};
    context.err_is_terminal = err_is_terminal_;
    context.program_folder = [this] { return program_.root(); };
    context.platform = &DefaultPlatform();
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
  RecordingWindow window;
  window.text1 = src_;
  window.text2 = dst_;
  window.check[0] = window.check[1] = 1;
  MessageLists lists(window);
  BackupRun run(window, lists, DefaultPlatform(), program_.root());
  run.Command3_Click();
  std::filesystem::rename(dst_, trees_.Path("first"));

  EXPECT_EQ(Run({"--show-files", src_, dst_}), kExitOk);
  EXPECT_EQ(WithoutTimes(OutLines()), WithoutTimes(window.lines));
  EXPECT_NE(out_.str().find(src_ + "/sub/deeper/c d.txt\n"), std::string::npos);

  EXPECT_EQ(Run({src_, dst_}), kExitOk);
  EXPECT_EQ(WithoutTimes(OutLines()),
            (std::vector<std::string>{"Starting copy: <time>", "Please wait...",
                                      "Finished....in :<s>"}));
  EXPECT_EQ(err_.str(), "") << "no progress line off a terminal";
}

TEST_F(RunCliTest, WrongArgumentsUnknownProfilesAndRefusedRunsExitWithTwo) {
  WriteFile(trees_.Path("outside.prf"),
            src_ + "\r\n" + dst_ + "\r\n 0 \r\n 0 \r\n 0 \r\n");
  struct Case {
    std::vector<std::string> args;
    std::string explanation;
  };
  const Case cases[] = {
      {{"--incremental", src_},
       "ferrybox-cli: SOURCE and DESTINATION are both needed\nUsage: "},
      {{"--frobnicate", src_, dst_}, "unknown option --frobnicate"},
      {{"--profile", "nothing"}, "no profile \"nothing\""},
      {{"--profile", "../outside"}, "not a profile name"},
      {{trees_.Path("missing"), dst_},
       std::string("refused: ") + kSourceFolderNotFound},
      {{src_, src_ + "/"}, std::string("refused: ") + kSameFolder},
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

  EXPECT_EQ(Run({"--version"}), kExitOk);
  EXPECT_EQ(out_.str(), "1.1.28\n");
}

TEST_F(RunCliTest, AFailedCopyExitsWithOneAndLeavesTheOthersCopied) {
  // A folder where the file's copy should go cannot be replaced by it.
  WriteFile(dst_ + "/a.txt/keep", "in the way");

  EXPECT_EQ(Run({src_, dst_}), kExitCopyFailed);
  const std::string failure = "Error copying file: " + dst_ + "/a.txt";
  EXPECT_NE(out_.str().find(failure + "\n"), std::string::npos) << out_.str();
  EXPECT_EQ(ReadFile(CopyLogPath(program_.root())), failure + "\r\n");
  EXPECT_NE(err_.str().find(CopyLogPath(program_.root())), std::string::npos);
  EXPECT_EQ(ReadFile(dst_ + "/sub/deeper/c d.txt"), "c and d");
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

TEST_F(RunCliTest, OnATerminalTheProgressLineIsShownAndClearedAtTheEnd) {
  err_is_terminal_ = true;
  EXPECT_EQ(Run({src_, dst_}), kExitOk);
  EXPECT_TRUE(err_.str().starts_with("\rScanning files...")) << err_.str();
  EXPECT_TRUE(err_.str().ends_with("\r\x1b[K")) << err_.str();
  EXPECT_EQ(OutLines().size(), 3u) << "standard output is unchanged";
}

}  // namespace
}  // namespace ferrybox
