#include "settings/profiles_folder.h"

#include <gtest/gtest.h>

#include "settings/profile.h"
#include "tests/support/settings_files.h"

namespace ferrybox {
namespace {

using testing::NamesIn;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;
using Names = std::set<std::string>;

TEST(EnsureProfilesFolder, MakesTheFolderWhenNothingHasItsName) {
  TempFolder program;
  EnsureProfilesFolder(DefaultPlatform(), program.path());
  EXPECT_TRUE(std::filesystem::is_directory(ProfilesFolder(program.path())));
  EXPECT_EQ(NamesIn(program.path()), Names{"profiles"});
}

TEST(EnsureProfilesFolder, MakesTheProgramFolderTooWhenItIsMissing) {
  TempFolder root;
  EnsureProfilesFolder(DefaultPlatform(), root / "new/program");
  EXPECT_TRUE(std::filesystem::is_directory(root / "new/program/profiles"));
}

TEST(EnsureProfilesFolder, LeavesAFileOrAFolderOfThatNameAsItIs) {
  TempFolder with_file;
  WriteBytes(with_file / "profiles", "data");
  EnsureProfilesFolder(DefaultPlatform(), with_file.path());
  EXPECT_EQ(ReadBytes(with_file / "profiles"), "data");

  TempFolder with_folder;
  std::filesystem::create_directory(with_folder / "profiles");
  WriteBytes(with_folder / "profiles/work.prf", "kept");
  EnsureProfilesFolder(DefaultPlatform(), with_folder.path());
  EXPECT_EQ(NamesIn(with_folder / "profiles"), Names{"work.prf"});

  // A link to a folder elsewhere counts as the folder.
  TempFolder elsewhere;
  TempFolder with_link;
  std::filesystem::create_directory_symlink(elsewhere.path(),
                                            with_link / "profiles");
  EnsureProfilesFolder(DefaultPlatform(), with_link.path());
  EXPECT_TRUE(std::filesystem::is_symlink(with_link / "profiles"));
}

}  // namespace
}  // namespace ferrybox
