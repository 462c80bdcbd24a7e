// ferrybox-cli as a real process: exit statuses, the exact lines, a
// profile run, the progress line on a terminal, and SIGTERM during a run.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "tests/cli/child_process.h"
#include "tests/cli/cli_test_support.h"

namespace ferrybox {
namespace {

using testing::ChildProcess;
using testing::ReadFile;
using testing::ScopedTempDir;
using testing::SplitLines;
using testing::TreeEntries;
using testing::WriteFile;

// Every test runs its own copy of the program, so that the copy log and
// the profiles folder (beside the program) belong to that test alone.
class CliProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(program_folder_.ok() && trees_.ok());
    program_ = program_folder_ / "ferrybox-cli";
    std::filesystem::copy_file(FERRYBOX_CLI_PATH, program_);
    src_ = trees_ / "src";
    dst_ = trees_ / "dst";
  }

  int Run(const std::vector<std::string>& args) {
    ChildProcess child(program_, args);
    EXPECT_TRUE(child.started());
    const int status = child.Finish();
    out_ = child.out();
    err_ = child.err();
    return status;
  }

  ScopedTempDir program_folder_;
  ScopedTempDir trees_;
  std::string program_;
  std::string src_;
  std::string dst_;
  std::string out_;
  std::string err_;
};

TEST_F(CliProcessTest, ExitStatusesAndTheExactLines) {
  WriteFile(src_ + "/a.txt", "alpha");
  WriteFile(src_ + "/sub/b.txt", "beta");

  EXPECT_EQ(Run({src_, dst_}), 0) << err_;
  const std::vector<std::string> lines = SplitLines(out_);
  ASSERT_EQ(lines.size(), 3u) << out_;
  EXPECT_TRUE(lines[0].starts_with("Starting copy: "));
  EXPECT_EQ(lines[1], "Please wait...");
  EXPECT_TRUE(lines[2].starts_with("Finished....in :"));
  EXPECT_TRUE(lines[2].ends_with(" seconds"));
  EXPECT_EQ(err_, "") << "no progress line off a terminal";
  EXPECT_EQ(ReadFile(dst_ + "/sub/b.txt"), "beta");

  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(out_, "1.1.28\n");

  EXPECT_EQ(Run({"--frobnicate", src_, dst_}), 2);
  EXPECT_EQ(out_, "");
  EXPECT_TRUE(err_.starts_with("ferrybox-cli: unknown option --frobnicate\n"));

  EXPECT_EQ(Run({trees_ / "missing", trees_ / "elsewhere"}), 2);
  EXPECT_TRUE(SplitLines(out_).back().starts_with("Finished....in :"));
  EXPECT_TRUE(err_.starts_with("ferrybox-cli: refused: ")) << err_;
  EXPECT_FALSE(std::filesystem::exists(trees_ / "elsewhere"));

  // A folder in the way of a file's copy: that copy fails, the log beside
  // the program lists it.
  std::filesystem::remove(dst_ + "/a.txt");
  WriteFile(dst_ + "/a.txt/in-the-way", "x");
  EXPECT_EQ(Run({src_, dst_}), 1);
  EXPECT_EQ(ReadFile(program_folder_ / "filelog.txt"),
            "Error copying file: " + dst_ + "/a.txt\r\n");
  EXPECT_NE(err_.find(program_folder_ / "filelog.txt"), std::string::npos)
      << err_;
}

TEST_F(CliProcessTest, RunsAProfileFromTheProfilesFolderBesideIt) {
  WriteFile(src_ + "/only.txt", "profiled");
  WriteFile(program_folder_ / "profiles/nightly.prf",
            src_ + "\r\n" + dst_ + "\r\n 0 \r\n 1 \r\n 1 \r\n");

  EXPECT_EQ(Run({"--profile", "nightly"}), 0) << err_;
  EXPECT_EQ(ReadFile(dst_ + "/only.txt"), "profiled");
  // Check2 ticked, Check1 clear: destination lines but no source lines.
  EXPECT_NE(out_.find("New File, Copying: " + dst_ + "/only.txt"),
            std::string::npos)
      << out_;
  EXPECT_EQ(out_.find(src_ + "/only.txt"), std::string::npos) << out_;

  EXPECT_EQ(Run({"--profile", "daily"}), 2);
  EXPECT_EQ(out_, "");
  EXPECT_NE(err_.find("no profile \"daily\""), std::string::npos) << err_;
}

TEST_F(CliProcessTest, ShowsAndClearsTheProgressLineOnATerminal) {
  for (int i = 0; i < 500; ++i) {
    WriteFile(src_ + "/f" + std::to_string(i), std::string(2000, 'x'));
  }
  ChildProcess child(program_, {src_, dst_}, {.err_on_terminal = true});
  ASSERT_TRUE(child.started());
  EXPECT_EQ(child.Finish(), 0);
  const std::string& err = child.err();
  EXPECT_TRUE(err.starts_with("\rScanning files...\x1b[K")) << err;
  EXPECT_TRUE(err.ends_with("\r\x1b[K")) << err;
  EXPECT_EQ(SplitLines(child.out()).size(), 3u);
}

TEST_F(CliProcessTest, SigtermStopsAfterTheFileInHandAndExits130) {
  // Long names make the listing far larger than a pipe holds, so the run
  // cannot finish while the test is not reading.
  const std::string folder = src_ + "/" + std::string(150, 'd');
  constexpr int kFiles = 3000;
  for (int i = 0; i < kFiles; ++i) {
    WriteFile(folder + "/" + std::string(100, 'f') + std::to_string(i),
              std::to_string(i));
  }

  ChildProcess child(program_, {"--show-files", src_, dst_});
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.ReadOutputUntil(folder + "/"));
  child.Signal(SIGTERM);
  EXPECT_EQ(child.Finish(), 130) << child.err();

  EXPECT_TRUE(SplitLines(child.out()).back().starts_with("Finished....in :"))
      << "the closing line was written";
  // Every file at the destination is complete and nothing else is there:
  // no temporary file, no partial copy under a real name.
  const auto source = TreeEntries(src_);
  size_t files = 0;
  for (const std::string& entry : TreeEntries(dst_)) {
    ASSERT_TRUE(source.count(entry)) << "unexpected " << entry;
    if (std::filesystem::is_regular_file(dst_ + "/" + entry)) {
      ++files;
      ASSERT_EQ(ReadFile(dst_ + "/" + entry), ReadFile(src_ + "/" + entry));
    }
  }
  EXPECT_GT(files, 0u);
  EXPECT_LT(files, static_cast<size_t>(kFiles));
}

}  // namespace
}  // namespace ferrybox
