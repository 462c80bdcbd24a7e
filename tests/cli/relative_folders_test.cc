// SPDX-License-Identifier: GPL-3.0-or-later
// ferrybox-cli with folders named relative to its working folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "cli/run_cli.h"
#include "engine/backup_run.h"
#include "engine/platform.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_tree.h"

namespace ferrybox {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::SplitLines;

class RelativeFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    trees_.Write("work/src/a.txt", "alpha");
    trees_.MakeFolder("work/sub");
    ASSERT_EQ(::chdir(trees_.Path("work").c_str()), 0);
    work_ = std::filesystem::current_path().string();
  }
  void TearDown() override { std::filesystem::current_path(earlier_); }

  int Run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    CliContext context{out_, err_};
    context.program_folder = [this] { return program_.root(); };
    context.platform = &DefaultPlatform();
    return RunCli(args, context);
  }

  const std::filesystem::path earlier_ = std::filesystem::current_path();
  testing::TempTree program_;
  testing::TempTree trees_;
  std::string work_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(RelativeFolders, CommandLineFoldersAreJoinedToTheWorkingFolder) {
  EXPECT_EQ(Run({"--show-files", "src", "sub/../dst"}), kExitOk) << err_.str();
  EXPECT_EQ(ReadFile(trees_.Path("work/dst/a.txt")), "alpha");
  // Joined as written: ".." is left for the file system to follow.
  const std::vector<std::string> lines = SplitLines(out_.str());
  EXPECT_NE(std::find(lines.begin(), lines.end(), work_ + "/src/a.txt"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "New File, Copying: " + work_ + "/sub/../dst/a.txt"),
            lines.end());
}

TEST_F(RelativeFolders, AProfileWithARelativeFolderIsRefused) {
  // A profile is not typed in a shell: its folders are taken as they are,
  // as the window takes them.
  program_.Write("profiles/rel.prf", "src\r\ndst\r\n 0 \r\n 0 \r\n 0 \r\n");
  EXPECT_EQ(Run({"--profile", "rel"}), kExitRefused);
  EXPECT_NE(err_.str().find(kSourceNotFullPath), std::string::npos)
      << err_.str();
  EXPECT_FALSE(Exists(trees_.Path("work/dst")));
}

}  // namespace
}  // namespace ferrybox
