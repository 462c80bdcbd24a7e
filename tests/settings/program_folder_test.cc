// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/program_folder.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/temp_name.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolder, InstalledMeansBelowASystemPrefixByWholeComponents) {
  for (const char* installed :
       {"/usr/bin/ferrybox", "/usr/local/bin/ferrybox-cli", "/bin/ferrybox",
        "/sbin/ferrybox", "/opt/ferrybox/bin/ferrybox"})
    EXPECT_TRUE(IsInstalledExecutable(installed)) << installed;
  for (const char* elsewhere :
       {"/usr2/bin/ferrybox", "/optional/ferrybox", "/binaries/ferrybox",
        "/home/ann/usr/bin/ferrybox", "/media/ann/USB/ferrybox", ""})
    EXPECT_FALSE(IsInstalledExecutable(elsewhere)) << elsewhere;
}

TEST(ProgramFolder, BesideAPortableCopyOnlyElseThePerUserFolder) {
  testing::TempTree base;
  const fs::path portable = base.Path("usb/ferrybox");
  const std::string home = base.Path("home"), xdg = base.Path("xdg");
  base.MakeFolder("usb/ferrybox");
  base.MakeFolder("xdg");
  fs::permissions(xdg, fs::perms(0755));
  const std::string in_xdg = xdg + "/ferrybox";
  const std::string in_home = home + "/.config/ferrybox";

  const struct {
    std::string executable;
    std::string xdg_config_home;
    std::string expected;
  } cases[] = {
      // A portable copy keeps its files beside itself when it can.
      {(portable / "ferrybox").string(), xdg, portable.string()},
      {"/proc/self/exe", xdg, in_xdg},  // even root cannot create there
      // A relative $XDG_CONFIG_HOME is ignored, as the XDG rules ask.
      {"/proc/self/exe", "relative", in_home},
      // An installed copy never writes beside itself, even when it could
      // (as root).
      {"/usr/bin/ferrybox", xdg, in_xdg},
      {"/usr/local/bin/ferrybox-cli", "", in_home},
      {"/opt/ferrybox/ferrybox", xdg, in_xdg},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseProgramFolder(DefaultPlatform(),
                                  {c.executable, c.xdg_config_home, home}),
              c.expected)
        << c.executable;
    EXPECT_TRUE(fs::is_directory(c.expected)) << c.expected;
  }
  // The levels made for the per-user folder are the user's alone; an
  // existing one is left as it was.
  EXPECT_EQ(testing::Mode(in_xdg), 0700u);
  EXPECT_EQ(testing::Mode(home + "/.config"), 0700u);
  EXPECT_EQ(testing::Mode(in_home), 0700u);
  EXPECT_EQ(testing::Mode(xdg), 0755u);
}

// Root passes every permission check, so only a refusal made through the
// file layer shows what a read-only mount does.
TEST(ProgramFolder, TheProbeIsAFileMadeAndRemovedOrARefusalThatMovesOn) {
  using Call = testing::FaultyPlatform::Kind;
  testing::TempTree base;
  base.MakeFolder("usb");
  const fs::path portable = base.Path("usb");
  const std::string xdg = base.Path("xdg");
  const std::string executable = base.Path("usb/ferrybox");
  for (int refusal : {0, EROFS, EACCES}) {
    SCOPED_TRACE(refusal);
    testing::FaultyPlatform files;
    if (refusal != 0) files.FailNth(Call::kCreate, 1, refusal);
    const std::string chosen =
        ChooseProgramFolder(files, {executable, xdg, base.Path("home")});
    ASSERT_FALSE(files.calls().empty());
    const std::string probe = files.PathAt(0);
    EXPECT_EQ(fs::path(probe).parent_path(), portable);
    EXPECT_TRUE(IsTempName(fs::path(probe).filename().string())) << probe;
    if (refusal == 0) {
      EXPECT_EQ(chosen, portable.string());
      EXPECT_EQ(files.calls(),
                (std::vector<std::string>{"create " + probe, "close " + probe,
                                          "remove " + probe}));
    } else {
      EXPECT_EQ(chosen, xdg + "/ferrybox");
      EXPECT_EQ(files.calls().back(), "mkdir " + xdg + "/ferrybox");
    }
    EXPECT_EQ(files.open_handles(), 0u);
  }
  EXPECT_TRUE(fs::is_empty(portable));
}

}  // namespace
}  // namespace ferrybox
