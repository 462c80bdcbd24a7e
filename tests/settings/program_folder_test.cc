#include "settings/program_folder.h"

#include <gtest/gtest.h>

#include "settings/version.h"
#include "tests/support/settings_files.h"

namespace ferrybox {
namespace {

using testing::NamesIn;
using testing::TempFolder;

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

TEST(ChooseProgramFolder, IsTheExecutablesFolderWhenFilesCanBeMadeThere) {
  TempFolder bin;
  TempFolder home;
  EXPECT_EQ(ChooseProgramFolder({bin / "ferrybox", "", home.path()}),
            bin.path());
  // Trying leaves nothing behind, and the per-user folder is not made.
  EXPECT_TRUE(NamesIn(bin.path()).empty());
  EXPECT_TRUE(NamesIn(home.path()).empty());
}

TEST(ChooseProgramFolder, FallsBackToTheConfigHomeAndCreatesIt) {
  TempFolder root;
  const std::string gone_bin = root / "gone/bin/ferrybox";
  const std::string chosen =
      ChooseProgramFolder({gone_bin, root / "xdg", root / "home"});
  EXPECT_EQ(chosen, root / "xdg/ferrybox");
  EXPECT_TRUE(IsFolder(chosen));
  EXPECT_FALSE(IsFolder(root / "home"));
}

TEST(ChooseProgramFolder, UsesHomeWhenTheConfigHomeIsUnsetOrRelative) {
  TempFolder root;
  const std::string gone_bin = root / "gone/ferrybox";
  for (const char* xdg : {"", "relative/config"}) {
    const std::string chosen =
        ChooseProgramFolder({gone_bin, xdg, root / "home"});
    EXPECT_EQ(chosen, root / "home/.config/ferrybox") << xdg;
    EXPECT_TRUE(IsFolder(chosen));
  }
  // An executable in a file's place, not a folder's, is not writable.
  testing::WriteBytes(root / "plain", "");
  EXPECT_EQ(ChooseProgramFolder({root / "plain/ferrybox", "", root / "home"}),
            root / "home/.config/ferrybox");
  EXPECT_EQ(ChooseProgramFolder({"", "", root / "home"}),
            root / "home/.config/ferrybox");
}

TEST(ChooseProgramFolder, KeepsTheExecutablesFolderWhenNothingElseIsKnown) {
  TempFolder root;
  EXPECT_EQ(ChooseProgramFolder({root / "gone/ferrybox", "", ""}),
            root / "gone");
  EXPECT_EQ(ChooseProgramFolder({"", "", ""}), ".");
}

TEST(ProgramFolder, IsTheRunningExecutablesFolderHere) {
  // The tests run from the build folder, which is writable.
  std::error_code ec;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
  ASSERT_FALSE(ec);
  EXPECT_EQ(ProgramFolder(), executable.parent_path().string());
}

TEST(Version, IsMajorMinorRevisionInPlainDecimal) {
  EXPECT_EQ(BuildVersionText(1, 1, 28), "1.1.28");
  EXPECT_EQ(BuildVersionText(10, 0, 7), "10.0.7");
  EXPECT_EQ(ProgramVersionText(), "1.1.28");
}

}  // namespace
}  // namespace ferrybox
