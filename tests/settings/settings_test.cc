#include <gtest/gtest.h>

#include "settings/profile.h"
#include "settings/program_folder.h"
#include "settings/text_file.h"
#include "tests/support/settings_files.h"

namespace ferrybox {
namespace {

using testing::NamesIn;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;
using Lines = std::vector<std::string>;

Lines Read(const std::string& path, std::size_t max_lines = 100) {
  Lines lines;
  std::string err;
  EXPECT_TRUE(ReadLines(path, max_lines, &lines, &err)) << err;
  return lines;
}

TEST(TextFileLines, ReadCrLfLoneLfAndAnUnterminatedLastLineKeepingSpaces) {
  TempFolder folder;
  WriteBytes(folder / "f", " x \r\n\r\nlf\na\rb\r\ncr\r\r\nlast");
  EXPECT_EQ(Read(folder / "f"),
            (Lines{" x ", "", "lf", "a\rb", "cr\r", "last"}));
  EXPECT_EQ(Read(folder / "f", 2), (Lines{" x ", ""}));
  // The CR ends the first read block, its LF starts the next.
  const std::string long_value(4095, 'p');
  WriteBytes(folder / "f", long_value + "\r\nnext\r\n");
  EXPECT_EQ(Read(folder / "f"), (Lines{long_value, "next"}));
}

TEST(TextFileLines, WrittenWithCrLfAndReplacedOnlyWhenComplete) {
  TempFolder folder;
  WriteBytes(folder / "f", "earlier\r\n");
  std::string err;
  // A value with a line break would read back as two values.
  EXPECT_FALSE(WriteLines(folder / "f", {"a\nb"}, &err));
  {
    testing::ScopedFileSizeLimit limit(8);
    EXPECT_FALSE(WriteLines(folder / "f", {std::string(100, 'n')}, &err));
    EXPECT_NE(err.find("write"), std::string::npos) << err;
  }
  EXPECT_EQ(ReadBytes(folder / "f"), "earlier\r\n");
  EXPECT_EQ(NamesIn(folder.path()), std::set<std::string>{"f"});

  ASSERT_TRUE(WriteLines(folder / "f", {" a ", ""}, &err)) << err;
  EXPECT_EQ(ReadBytes(folder / "f"), " a \r\n\r\n");
  EXPECT_EQ(NamesIn(folder.path()), std::set<std::string>{"f"});
  EXPECT_FALSE(WriteLines(folder / "missing/f", {"x"}, &err));
}

TEST(CheckStateFromLine, TakesTheLeadingNumberRoundedHalfToEven) {
  const struct {
    const char* line;
    bool valid;
    int state;
  } cases[] = {
      {" 1 ", true, 1},    {"1", true, 1},    {"", true, 0},
      {"abc", true, 0},    {"2abc", true, 2}, {"+1", true, 1},
      {"0.5", true, 0},    {"1.5", true, 2},  {"2.5", true, 2},
      {".6", true, 1},     {"1D0", true, 1},  {"1e", true, 1},
      {"20e-1", true, 2},  {"3", false, 0},   {"-1", false, 0},
      {" 1 2", false, 0},  // blanks inside a number are skipped: 12
      {"1e400", false, 0},
  };
  for (const auto& c : cases) {
    int state = -1;
    EXPECT_EQ(CheckStateFromLine(c.line, &state), c.valid) << c.line;
    if (c.valid) {
      EXPECT_EQ(state, c.state) << c.line;
    }
  }
}

TEST(ChooseProgramFolder, IsTheExecutablesFolderWhenFilesCanBeMadeThere) {
  TempFolder bin;
  TempFolder home;
  EXPECT_EQ(ChooseProgramFolder({bin / "ferrybox", "", home.path()}),
            bin.path());
  EXPECT_TRUE(NamesIn(bin.path()).empty());
  EXPECT_TRUE(NamesIn(home.path()).empty());
}

TEST(ChooseProgramFolder, OtherwiseTheUsersConfigFolderMadeOnTheSpot) {
  TempFolder root;
  const std::string gone = root / "gone/ferrybox";
  EXPECT_EQ(ChooseProgramFolder({gone, root / "xdg", root / "home"}),
            root / "xdg/ferrybox");
  EXPECT_TRUE(std::filesystem::is_directory(root / "xdg/ferrybox"));
  // A relative $XDG_CONFIG_HOME is ignored.
  EXPECT_EQ(ChooseProgramFolder({gone, "rel", root / "home"}),
            root / "home/.config/ferrybox");
  EXPECT_TRUE(std::filesystem::is_directory(root / "home/.config/ferrybox"));
  EXPECT_EQ(ChooseProgramFolder({gone, "", ""}), root / "gone");
}

}  // namespace
}  // namespace ferrybox
