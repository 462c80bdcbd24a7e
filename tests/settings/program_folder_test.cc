#include "settings/program_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

namespace ferrybox {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolder, TheExecutablesFolderWhenWritableElseThePerUserFolder) {
  const fs::path base = fs::path(::testing::TempDir()) / "program-folder";
  fs::remove_all(base);
  const fs::path writable = base / "bin";
  const fs::path read_only = "/proc/self";  // even root cannot create there
  fs::create_directories(writable);
  const std::string home = (base / "home").string();
  const std::string xdg = (base / "xdg").string();

  EXPECT_EQ(ChooseProgramFolder({(writable / "ferrybox").string(), xdg, home}),
            writable.string());
  EXPECT_EQ(ChooseProgramFolder({(read_only / "exe").string(), xdg, home}),
            xdg + "/ferrybox");
  EXPECT_TRUE(fs::is_directory(xdg + "/ferrybox"));
  // A relative $XDG_CONFIG_HOME is ignored, as the XDG rules ask.
  EXPECT_EQ(ChooseProgramFolder({(read_only / "exe").string(), "rel", home}),
            home + "/.config/ferrybox");
  EXPECT_TRUE(fs::is_directory(home + "/.config/ferrybox"));
  // No probe file is left behind in a writable executable's folder.
  EXPECT_TRUE(fs::is_empty(writable));
}

}  // namespace
}  // namespace ferrybox
