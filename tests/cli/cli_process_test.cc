// ferrybox-cli as a real process stopped by SIGTERM in the middle of a run.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "tests/cli/child_process.h"
#include "tests/cli/cli_test_support.h"

namespace ferrybox {
namespace {

using testing::ReadFile;
using testing::SplitLines;
using testing::TreeEntries;

TEST(CliProcessTest, SigtermStopsAfterTheFileInHandAndExits130) {
  // A copy of the program of its own, so the copy log beside it is ours.
  testing::TempTree program_folder, trees;
  const std::string program = program_folder.Path("ferrybox-cli");
  std::filesystem::copy_file(FERRYBOX_CLI_PATH, program);
  const std::string src = trees.Path("src"), dst = trees.Path("dst");
  // Long names make the listing far larger than a pipe holds, so the run
  // cannot finish while the test is not reading.
  const std::string folder = src + "/" + std::string(150, 'd');
  constexpr size_t kFiles = 3000;
  for (size_t i = 0; i < kFiles; ++i) {
    testing::WriteFile(folder + "/" + std::string(100, 'f') + std::to_string(i),
                       std::to_string(i));
  }

  testing::ChildProcess child(program, {"--show-files", src, dst});
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.ReadOutputUntil(folder + "/"));
  child.Signal(SIGTERM);
  EXPECT_EQ(child.Finish(), 130);

  EXPECT_TRUE(SplitLines(child.out()).back().starts_with("Finished....in :"))
      << "the closing line was written";
  // Every file at the destination is complete and nothing else is there:
  // no temporary file, no partial copy under a real name.
  const auto source = TreeEntries(src);
  size_t files = 0;
  for (const std::string& entry : TreeEntries(dst)) {
    ASSERT_TRUE(source.count(entry)) << "unexpected " << entry;
    if (std::filesystem::is_regular_file(dst + "/" + entry)) {
      ++files;
      ASSERT_EQ(ReadFile(dst + "/" + entry), ReadFile(src + "/" + entry));
    }
  }
  EXPECT_GT(files, 0u);
  EXPECT_LT(files, kFiles);
}

}  // namespace
}  // namespace ferrybox
