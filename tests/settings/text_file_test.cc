#include "settings/text_file.h"

#include <gtest/gtest.h>

#include "tests/support/settings_files.h"

namespace ferrybox {
namespace {

using testing::NamesIn;
using testing::ReadBytes;
using testing::ScopedFileSizeLimit;
using testing::TempFolder;
using testing::WriteBytes;
using Lines = std::vector<std::string>;

Lines Read(const std::string& path, std::size_t max_lines = 100) {
  Lines lines;
  std::string err;
  EXPECT_TRUE(ReadLines(path, max_lines, &lines, &err)) << err;
  return lines;
}

TEST(ReadLinesLineEnds, AcceptsCrLfLoneLfAndAnUnterminatedLastLine) {
  TempFolder folder;
  WriteBytes(folder / "f", "crlf\r\nlf\nlast");
  EXPECT_EQ(Read(folder / "f"), (Lines{"crlf", "lf", "last"}));

  WriteBytes(folder / "f", "one\r\n");
  EXPECT_EQ(Read(folder / "f"), (Lines{"one"}));

  WriteBytes(folder / "f", "");
  EXPECT_EQ(Read(folder / "f"), Lines{});
}

TEST(ReadLinesLineEnds, KeepsSpacesEmptyLinesAndCarriageReturnsInsideValues) {
  TempFolder folder;
  WriteBytes(folder / "f", " x \r\n\r\n  \r\na\rb\r\nends in cr\r\r\n\n");
  EXPECT_EQ(Read(folder / "f"),
            (Lines{" x ", "", "  ", "a\rb", "ends in cr\r", ""}));
}

TEST(ReadLinesLineEnds, ALineEndSplitAcrossReadsIsStillOneLineEnd) {
  TempFolder folder;
  // The CR is the last byte of the first read block, the LF the first of
  // the next.
  const std::string long_value(4095, 'p');
  WriteBytes(folder / "f", long_value + "\r\nnext\r\n");
  EXPECT_EQ(Read(folder / "f"), (Lines{long_value, "next"}));
}

TEST(ReadLinesLimits, StopsAfterTheLinesAskedFor) {
  TempFolder folder;
  WriteBytes(folder / "f", "1\r\n2\r\n3\r\n4");
  EXPECT_EQ(Read(folder / "f", 2), (Lines{"1", "2"}));
  EXPECT_EQ(Read(folder / "f", 4), (Lines{"1", "2", "3", "4"}));
}

TEST(ReadLinesLimits, AMissingFileIsAnErrorNamingIt) {
  TempFolder folder;
  Lines lines{"stale"};
  std::string err;
  EXPECT_FALSE(ReadLines(folder / "absent", 2, &lines, &err));
  EXPECT_NE(err.find(folder / "absent"), std::string::npos) << err;
  EXPECT_TRUE(lines.empty());
}

TEST(WriteLinesFormat, EndsEveryLineWithCrLfAndKeepsValuesAsTheyAre) {
  TempFolder folder;
  std::string err;
  ASSERT_TRUE(WriteLines(folder / "f", {" /a b/ ", "", "x\ry"}, &err)) << err;
  EXPECT_EQ(ReadBytes(folder / "f"), " /a b/ \r\n\r\nx\ry\r\n");
  EXPECT_EQ(Read(folder / "f"), (Lines{" /a b/ ", "", "x\ry"}));
}

TEST(WriteLinesFormat, RefusesAValueHoldingALineBreak) {
  TempFolder folder;
  WriteBytes(folder / "f", "before\r\n");
  std::string err;
  EXPECT_FALSE(WriteLines(folder / "f", {"a\nb"}, &err));
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(ReadBytes(folder / "f"), "before\r\n");
}

TEST(WriteLinesReplacement, ReplacesTheFileAndLeavesNothingElseBehind) {
  TempFolder folder;
  WriteBytes(folder / "f", "a much longer earlier content\r\nsecond\r\n");
  std::string err;
  ASSERT_TRUE(WriteLines(folder / "f", {"new"}, &err)) << err;
  EXPECT_EQ(ReadBytes(folder / "f"), "new\r\n");
  EXPECT_EQ(NamesIn(folder.path()), std::set<std::string>{"f"});
}

TEST(WriteLinesReplacement, AFailedWriteLeavesTheEarlierFileIntact) {
  TempFolder folder;
  WriteBytes(folder / "f", "earlier\r\n");
  std::string err;
  {
    ScopedFileSizeLimit limit(8);
    EXPECT_FALSE(WriteLines(folder / "f", {std::string(100, 'n')}, &err));
  }
  EXPECT_NE(err.find("write"), std::string::npos) << err;
  EXPECT_EQ(ReadBytes(folder / "f"), "earlier\r\n");
  EXPECT_EQ(NamesIn(folder.path()), std::set<std::string>{"f"});
}

TEST(WriteLinesReplacement, AMissingFolderIsAnError) {
  TempFolder folder;
  std::string err;
  EXPECT_FALSE(WriteLines(folder / "no/such/f", {"x"}, &err));
  EXPECT_NE(err.find(folder / "no/such"), std::string::npos) << err;
}

TEST(WriteLinesReplacement, AFolderInTheWayIsNotReplaced) {
  TempFolder folder;
  std::filesystem::create_directory(folder / "f");
  WriteBytes(folder / "f/inside", "kept");
  std::string err;
  EXPECT_FALSE(WriteLines(folder / "f", {"x"}, &err));
  EXPECT_EQ(ReadBytes(folder / "f/inside"), "kept");
  EXPECT_EQ(NamesIn(folder.path()), std::set<std::string>{"f"});
}

}  // namespace
}  // namespace ferrybox
