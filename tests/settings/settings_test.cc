#include <gtest/gtest.h>

#include "settings/profile.h"
#include "settings/program_folder.h"
#include "settings/text_file.h"
#include "tests/support/settings_files.h"

namespace ferrybox {
namespace {

using Lines = std::vector<std::string>;

Lines Read(const std::string& path) {
  Lines lines;
  std::string err;
  EXPECT_TRUE(ReadLines(path, 100, &lines, &err)) << err;
  return lines;
}

TEST(TextFileLines, ReadAnyLineEndKeepingSpacesAndNeverWriteABreak) {
  testing::TempFolder folder;
  testing::WriteBytes(folder / "f", " x \r\n\r\nlf\na\rb\r\ncr\r\r\nlast");
  EXPECT_EQ(Read(folder / "f"),
            (Lines{" x ", "", "lf", "a\rb", "cr\r", "last"}));
  // The CR ends the first read block, its LF starts the next.
  const Lines long_first = {std::string(4095, 'p'), "next"};
  testing::WriteBytes(folder / "f", long_first[0] + "\r\nnext\r\n");
  EXPECT_EQ(Read(folder / "f"), long_first);
  // A value with a line break would read back as two values.
  std::string err;
  EXPECT_FALSE(WriteLines(folder / "f", {"a\nb"}, &err));
  EXPECT_EQ(Read(folder / "f"), long_first);
}

TEST(CheckStateFromLine, TakesTheLeadingNumberRoundedHalfToEven) {
  const std::pair<const char*, int> cases[] = {
      // -1: refused
      {" 1 ", 1}, {"1", 1},   {"", 0},       {"abc", 0},   {"2abc", 2},
      {"0.5", 0}, {"1.5", 2}, {"2.5", 2},    {"20e-1", 2}, {"1e", 1},
      {"3", -1},  {"-1", -1}, {"1e400", -1}, {" 1 2", -1}};  // " 1 2" is 12
  for (const auto& [line, expected] : cases) {
    int state = -1;
    EXPECT_EQ(CheckStateFromLine(line, &state), expected >= 0) << line;
    if (expected >= 0) {
      EXPECT_EQ(state, expected) << line;
    }
  }
}

TEST(ChooseProgramFolder, TheExecutablesFolderElseTheUsersConfigFolder) {
  testing::TempFolder bin;
  EXPECT_EQ(ChooseProgramFolder({bin / "ferrybox", "", ""}), bin.path());
  EXPECT_TRUE(testing::NamesIn(bin.path()).empty());  // the probe is gone
  const std::string gone = bin / "gone/ferrybox";
  EXPECT_EQ(ChooseProgramFolder({gone, bin / "xdg", bin / "home"}),
            bin / "xdg/ferrybox");
  // A relative $XDG_CONFIG_HOME is ignored.
  EXPECT_EQ(ChooseProgramFolder({gone, "rel", bin / "home"}),
            bin / "home/.config/ferrybox");
  EXPECT_TRUE(std::filesystem::is_directory(bin / "home/.config/ferrybox"));
  EXPECT_EQ(ChooseProgramFolder({gone, "", ""}), bin / "gone");
}

}  // namespace
}  // namespace ferrybox
