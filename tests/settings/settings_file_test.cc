#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include "tests/support/settings_files.h"

namespace ferrybox {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;
using Lines = std::vector<std::string>;

TEST(SettingsFile, LiesInTheProgramFolder) {
  EXPECT_EQ(SettingsFilePath("/opt/ferrybox"), "/opt/ferrybox/config.txt");
}

TEST(SettingsFile, RoundTripsFoldersWithSpacesAndAnEmptyDestination) {
  TempFolder folder;
  const std::string path = SettingsFilePath(folder.path());
  std::string err;
  ASSERT_TRUE(WriteSettingsFile(path, " /src with space ", "", &err)) << err;
  EXPECT_EQ(ReadBytes(path), " /src with space \r\n\r\n");
  Lines folders;
  ASSERT_TRUE(ReadSettingsFile(path, &folders, &err)) << err;
  EXPECT_EQ(folders, (Lines{" /src with space ", ""}));
}

TEST(SettingsFile, ReadsOnlyTheFirstTwoLines) {
  TempFolder folder;
  const std::string path = SettingsFilePath(folder.path());
  WriteBytes(path, "/a\r\n/b\r\n/c\r\n");
  Lines folders;
  std::string err;
  ASSERT_TRUE(ReadSettingsFile(path, &folders, &err)) << err;
  EXPECT_EQ(folders, (Lines{"/a", "/b"}));
}

TEST(SettingsFile, AShortFileGivesWhatItHas) {
  TempFolder folder;
  const std::string path = SettingsFilePath(folder.path());
  WriteBytes(path, "/only");
  Lines folders;
  std::string err;
  ASSERT_TRUE(ReadSettingsFile(path, &folders, &err)) << err;
  EXPECT_EQ(folders, (Lines{"/only"}));
}

}  // namespace
}  // namespace ferrybox
