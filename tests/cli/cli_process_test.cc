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
using Seconds = ChildProcess::Seconds;

TEST(CliProcess, ASignalStopsAfterTheFileInHandReadOrNotAndExits130) {
  // Long names make the listing far larger than a pipe holds, so the run
  // cannot finish while the test is not reading.
  constexpr size_t kFiles = 3000;
  testing::TempTree tree;
  const std::string src = tree.Path("src");
  const std::string folder = src + "/" + std::string(150, 'd');
  for (size_t i = 0; i < kFiles; ++i) {
    testing::WriteFile(folder + "/" + std::string(100, 'f') + std::to_string(i),
                       std::to_string(i));
  }
  // A copy of the program of its own, so the copy log beside it is ours.
  const std::string program = tree.Path("ferrybox-cli");
  const std::string dst = tree.Path("dst");
  std::filesystem::copy_file(FERRYBOX_CLI_PATH, program);
  const struct {
    int signal;
    ChildProcess::Err err;
    bool reading;  // else nobody reads the output and its pipe is full
  } cases[] = {{SIGTERM, ChildProcess::Err::kInherited, true},
               {SIGTERM, ChildProcess::Err::kInherited, false},
               {SIGINT, ChildProcess::Err::kWithOut, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal + 100 * c.reading);
    std::filesystem::remove_all(dst);
    ChildProcess child(program, {"--show-files", src, dst}, c.err);
    ASSERT_TRUE(child.started());
    // The pipe is full once its content stops growing.
    const auto deadline = std::chrono::steady_clock::now() + Seconds(10);
    for (int before = -1;
         !c.reading && (before != child.Unread() || before <= 0);) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      before = child.Unread();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ASSERT_TRUE(!c.reading || child.ReadOutputUntil(folder + "/"));
    child.Signal(c.signal);
    if (c.reading) {
      EXPECT_EQ(child.Finish(), 130);
      EXPECT_TRUE(testing::SplitLines(child.out())
                      .back()
                      .starts_with("Finished....in :"))
          << "the closing line was written";
    } else {
      EXPECT_EQ(child.WaitExit(Seconds(5)), 130);
    }
    // Every file at the destination is complete and nothing else is there:
    // no temporary file, no partial copy under a real name. Some files were
    // copied, not all.
    const auto source = testing::Entries(src, true);
    size_t files = 0;
    for (const std::string& entry : testing::Entries(dst, true)) {
      ASSERT_TRUE(source.count(entry)) << "unexpected " << entry;
      if (std::filesystem::is_regular_file(dst + "/" + entry)) {
        ++files;
        ASSERT_EQ(ReadFile(dst + "/" + entry), ReadFile(src + "/" + entry));
      }
    }
    EXPECT_GT(files, 0u);
    EXPECT_LT(files, kFiles);
  }
}

}  // namespace
}  // namespace ferrybox
