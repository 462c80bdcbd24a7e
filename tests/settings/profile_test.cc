#include "settings/profile.h"

#include <gtest/gtest.h>

#include "tests/support/settings_files.h"

namespace ferrybox {
namespace {

using testing::NamesIn;
using testing::ReadBytes;
using testing::ScopedFileSizeLimit;
using testing::TempFolder;
using testing::WriteBytes;

TEST(ProfilePaths, LieInTheProfilesFolderWithTheExtensionAppended) {
  EXPECT_EQ(ProfilesFolder("/opt/fb"), "/opt/fb/profiles");
  EXPECT_EQ(ProfilePath("/opt/fb", "work"), "/opt/fb/profiles/work.prf");
  EXPECT_EQ(ProfilePath("/opt/fb", "x.prf"), "/opt/fb/profiles/x.prf.prf");
  EXPECT_EQ(ProfilePath("/opt/fb", ""), "/opt/fb/profiles/.prf");
}

TEST(ProfileFile, WritesFiveLinesWithSpacedStatesAndReadsThemBack) {
  TempFolder folder;
  const Profile saved{" /src ", "", 1, 0, 2};
  std::string err;
  ASSERT_TRUE(WriteProfile(folder / "p.prf", saved, &err)) << err;
  EXPECT_EQ(ReadBytes(folder / "p.prf"), " /src \r\n\r\n 1 \r\n 0 \r\n 2 \r\n");

  const ProfileRead read = ReadProfile(folder / "p.prf");
  ASSERT_TRUE(read.ok()) << read.error;
  EXPECT_EQ(read.profile.source, " /src ");
  EXPECT_EQ(read.profile.destination, "");
  EXPECT_EQ(read.profile.check1, 1);
  EXPECT_EQ(read.profile.check2, 0);
  EXPECT_EQ(read.profile.check3, 2);
}

TEST(ProfileFile, ReadsStatesWithoutSpacesAndLoneLineFeeds) {
  TempFolder folder;
  WriteBytes(folder / "p.prf", "/a\n/b\n1\n 0\n2 \nsixth line ignored\n");
  const ProfileRead read = ReadProfile(folder / "p.prf");
  ASSERT_TRUE(read.ok()) << read.error;
  EXPECT_EQ(read.profile.source, "/a");
  EXPECT_EQ(read.profile.destination, "/b");
  EXPECT_EQ(read.profile.check1, 1);
  EXPECT_EQ(read.profile.check2, 0);
  EXPECT_EQ(read.profile.check3, 2);
}

TEST(ProfileFile, RefusesMissingShortAndDamagedFiles) {
  TempFolder folder;
  EXPECT_FALSE(ReadProfile(folder / "gone.prf").ok());

  WriteBytes(folder / "short.prf", "/a\r\n/b\r\n 1 \r\n 1 \r\n");
  const ProfileRead short_read = ReadProfile(folder / "short.prf");
  EXPECT_FALSE(short_read.ok());
  EXPECT_NE(short_read.error.find("short.prf"), std::string::npos);

  WriteBytes(folder / "three.prf", "/a\r\n/b\r\n 1 \r\n 3 \r\n 0 \r\n");
  const ProfileRead bad_state = ReadProfile(folder / "three.prf");
  EXPECT_FALSE(bad_state.ok());
  EXPECT_NE(bad_state.error.find("line 4"), std::string::npos)
      << bad_state.error;
}

TEST(ProfileFile, AFailedWriteLeavesTheEarlierProfileIntact) {
  TempFolder folder;
  const std::string earlier = "/a\r\n/b\r\n 1 \r\n 1 \r\n 0 \r\n";
  WriteBytes(folder / "p.prf", earlier);
  std::string err;
  {
    ScopedFileSizeLimit limit(16);
    EXPECT_FALSE(WriteProfile(folder / "p.prf",
                              {std::string(64, 's'), "/d", 0, 0, 1}, &err));
  }
  EXPECT_EQ(ReadBytes(folder / "p.prf"), earlier);
  EXPECT_EQ(NamesIn(folder.path()), std::set<std::string>{"p.prf"});
}

struct StateCase {
  const char* line;
  bool valid;
  int state;
};

TEST(CheckStateFromLine, TakesTheLeadingNumberRoundedHalfToEven) {
  const StateCase cases[] = {
      {" 1 ", true, 1},    {"1", true, 1},     {"2", true, 2},
      {"0", true, 0},      {"", true, 0},      {"   ", true, 0},
      {"abc", true, 0},    {"2abc", true, 2},  {"+1", true, 1},
      {"-0", true, 0},     {"1.4", true, 1},   {"0.5", true, 0},
      {"1.5", true, 2},    {"2.5", true, 2},   {".6", true, 1},
      {"1e0", true, 1},    {"1D0", true, 1},   {"1e", true, 1},
      {"1e+", true, 1},    {"20e-1", true, 2}, {"\t2\t", true, 2},
      {"3", false, 0},     {"-1", false, 0},   {"2.6", false, 0},
      {" 1 2", false, 0},  // blanks inside the number are skipped: 12
      {"1e400", false, 0}, {"1e2", false, 0},
  };
  for (const StateCase& c : cases) {
    int state = -7;
    EXPECT_EQ(CheckStateFromLine(c.line, &state), c.valid)
        << '"' << c.line << '"';
    if (c.valid) {
      EXPECT_EQ(state, c.state) << '"' << c.line << '"';
    }
  }
}

}  // namespace
}  // namespace ferrybox
