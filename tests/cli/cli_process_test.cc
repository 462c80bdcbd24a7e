// SPDX-License-Identifier: GPL-3.0-or-later
// ferrybox-cli as a real process stopped by a signal in the middle of a run.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/temp_tree.h"

namespace ferrybox {
namespace {

using testing::ChildProcess;
using testing::ReadFile;
using testing::SplitLines;
using Seconds = ChildProcess::Seconds;

class CliProcessTest : public ::testing::Test {
 protected:
  static constexpr size_t kFiles = 3000;

  // Long names make the listing far larger than a pipe holds, so the run
  // cannot finish while the test is not reading.
  static void SetUpTestSuite() {
    trees_ = new testing::TempTree;
    for (size_t i = 0; i < kFiles; ++i) {
      testing::WriteFile(
          Folder() + "/" + std::string(100, 'f') + std::to_string(i),
          std::to_string(i));
    }
  }
  static void TearDownTestSuite() { delete trees_; }
  static std::string Src() { return trees_->Path("src"); }
  static std::string Folder() { return Src() + "/" + std::string(150, 'd'); }

  // A copy of the program of its own, so the copy log beside it is ours.
  void SetUp() override {
    std::filesystem::copy_file(FERRYBOX_CLI_PATH, program_);
  }

  // Every file at the destination is complete and nothing else is there:
  // no temporary file, no partial copy under a real name. Some files were
  // copied, not all.
  void ExpectAnIntactPartialBackup() {
    const auto source = testing::Entries(Src(), true);
    size_t files = 0;
    for (const std::string& entry : testing::Entries(dst_, true)) {
      ASSERT_TRUE(source.count(entry)) << "unexpected " << entry;
      if (std::filesystem::is_regular_file(dst_ + "/" + entry)) {
        ++files;
        ASSERT_EQ(ReadFile(dst_ + "/" + entry), ReadFile(Src() + "/" + entry));
      }
    }
    EXPECT_GT(files, 0u);
    EXPECT_LT(files, kFiles);
  }

  static testing::TempTree* trees_;
  testing::TempTree program_folder_;
  const std::string program_ = program_folder_.Path("ferrybox-cli");
  const std::string dst_ = program_folder_.Path("dst");
};

testing::TempTree* CliProcessTest::trees_ = nullptr;

TEST_F(CliProcessTest, ASignalStopsAfterTheFileInHandReadOrNotAndExits130) {
  const struct {
    int signal;
    ChildProcess::Err err;
    bool reading;  // else nobody reads the output and its pipe is full
  } cases[] = {{SIGTERM, ChildProcess::Err::kInherited, true},
               {SIGTERM, ChildProcess::Err::kInherited, false},
               {SIGINT, ChildProcess::Err::kWithOut, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal + 100 * c.reading);
    std::filesystem::remove_all(dst_);
    ChildProcess child(program_, {"--show-files", Src(), dst_}, c.err);
    ASSERT_TRUE(child.started());
    // The pipe is full once its content stops growing.
    const auto deadline = std::chrono::steady_clock::now() + Seconds(10);
    for (int before = -1;
         !c.reading && (before != child.Unread() || before <= 0);) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      before = child.Unread();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ASSERT_TRUE(!c.reading || child.ReadOutputUntil(Folder() + "/"));
    child.Signal(c.signal);
    if (c.reading) {
      EXPECT_EQ(child.Finish(), 130);
      EXPECT_TRUE(
          SplitLines(child.out()).back().starts_with("Finished....in :"))
          << "the closing line was written";
    } else {
      EXPECT_EQ(child.WaitExit(Seconds(5)), 130);
    }
    ExpectAnIntactPartialBackup();
  }
}

}  // namespace
}  // namespace ferrybox
