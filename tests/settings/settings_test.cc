// SPDX-License-Identifier: GPL-3.0-or-later
// The settings: the folder they are kept in; the steps of a settings or
// profile file's write and read through the file layer, and what a failure at
// each leaves behind; the files the readers accept and the lines they read.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "platform/temp_name.h"
#include "settings/options_file.h"
#include "settings/profile.h"
#include "settings/program_folder.h"
#include "settings/settings_file.h"
#include "settings/text_file.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

namespace fs = std::filesystem;
using Call = testing::FaultyPlatform::Kind;
using Texts = std::vector<std::string>;

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
  for (const std::string& made : {in_xdg, home + "/.config", in_home})
    EXPECT_EQ(testing::Mode(made), 0700u) << made;
  EXPECT_EQ(testing::Mode(xdg), 0755u);
}

// Root passes every permission check, so only a refusal made through the
// file layer shows what a read-only mount does.
TEST(ProgramFolder, TheProbeIsAFileMadeAndRemovedOrARefusalThatMovesOn) {
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

constexpr char kEarlier[] = "/earlier/source\r\n/earlier/destination\r\n";

std::string Reason(const char* call, const std::string& path, int error) {
  return std::string(call) + " " + path + ": " + std::strerror(error);
}

TEST(SettingsWrites, AreOnTheDiskBeforeTheyTakeTheirRealName) {
  testing::TempTree tree;
  const std::string settings = tree.Write("config.txt", kEarlier);
  const std::string profile = tree.Path("work.prf");
  for (const std::string& path : {settings, profile}) {
    testing::FaultyPlatform files;
    std::string err;
    ASSERT_TRUE(path == settings
                    ? WriteSettingsFile(files, path, "/a", "/b", &err)
                    : WriteProfile(files, path, {"/a", "/b", 1, 0, 2}, &err))
        << err;
    // A new file beside the real one, under a name scans skip.
    const std::filesystem::path temporary = files.PathAt(0);
    EXPECT_EQ(temporary.parent_path(), tree.root());
    EXPECT_TRUE(IsTempName(temporary.filename().string())) << temporary;
    // Flushed before the rename: otherwise a power cut can leave the real
    // name on an empty file.
    const std::string t = temporary.string();
    const Texts calls = files.calls();
    const auto last = [&calls](const std::string& call) {
      const auto it = std::find(calls.rbegin(), calls.rend(), call);
      return static_cast<int>(calls.rend() - it) - 1;  // -1 when never made
    };
    const int written = last("write " + t);
    EXPECT_GE(written, 0);
    EXPECT_LT(written, last("sync " + t));
    EXPECT_LT(last("sync " + t), last("rename " + t + " -> " + path));
  }
  EXPECT_EQ(testing::ReadFile(profile), "/a\r\n/b\r\n 1 \r\n 0 \r\n 2 \r\n");
}

TEST(SettingsWrites, AFailedStepKeepsTheEarlierFileAndSaysWhy) {
  const struct {
    Call call;
    int error;
    const char* reported;  ///< the call the reason names
  } cases[] = {
      {Call::kCreate, EROFS, "open"},    {Call::kWrite, ENOSPC, "write"},
      {Call::kSync, EIO, "fsync"},       {Call::kClose, EDQUOT, "close"},
      {Call::kRename, EACCES, "rename"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reported);
    testing::TempTree tree;
    const std::string path = tree.Write("config.txt", kEarlier);
    testing::FaultyPlatform files;
    files.FailNth(c.call, 1, c.error);
    std::string err;
    EXPECT_FALSE(WriteSettingsFile(files, path, "/a", "/b", &err));
    // The rename names the real file, every earlier step the temporary one.
    EXPECT_EQ(
        err, Reason(c.reported,
                    c.call == Call::kRename ? path : files.PathAt(0), c.error));
    EXPECT_EQ(testing::ReadFile(path), kEarlier);
    EXPECT_EQ(testing::Entries(tree.root()),
              std::set<std::string>{"config.txt"});
    EXPECT_EQ(files.open_handles(), 0u);
  }
}

TEST(SettingsReads, AFailedCallIsNamedAndTheFileClosed) {
  testing::TempTree tree;
  const std::string path = tree.Write("config.txt", kEarlier);
  const struct {
    Call call;
    int error;  ///< 0: nothing fails
    const char* reported;
  } cases[] = {{Call::kOpen, EACCES, "open"},
               {Call::kStatus, EOVERFLOW, "fstat"},
               {Call::kRead, EIO, "read"},
               {Call::kRead, 0, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reported);
    testing::FaultyPlatform files;
    if (c.error != 0) files.FailNth(c.call, 1, c.error);
    Texts lines;
    std::string err;
    EXPECT_EQ(ReadLines(files, path, 2, &lines, &err), c.error == 0);
    EXPECT_EQ(err, c.error != 0 ? Reason(c.reported, path, c.error) : "");
    EXPECT_EQ(files.open_handles(), 0u);
  }
}

constexpr char kSound[] = "/src\r\n/dst\r\n 1 \r\n 0 \r\n 1 \r\n";

TEST(TextFileReaders, ReadOnlyRegularFilesOfASettingsFileSize) {
  testing::TempTree tree;
  struct Case {
    const char* name;
    std::string content;
    uint64_t size;      ///< sparse size to grow the file to; 0 keeps it
    std::string error;  ///< empty when the file loads
  };
  const std::string at_limit =
      kSound + std::string(64 * 1024 - (sizeof kSound - 1), ' ');
  ASSERT_EQ(at_limit.size(), 64u * 1024);
  const Case cases[] = {
      {"sound", kSound, 0, ""},
      {"at_limit", at_limit, 0, ""},
      {"one_more", at_limit + " ", 0, " is damaged: larger than 64 KiB"},
      // 3 GiB without a line break, sparse: it takes no disk space, and
      // must take no memory either.
      {"huge", "", uint64_t{3} << 30, " is damaged: larger than 64 KiB"},
      {"huge_tail", kSound, uint64_t{3} << 30,
       " is damaged: larger than 64 KiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tree.Write(c.name, c.content);
    if (c.size > 0) std::filesystem::resize_file(path, c.size);
    const ProfileRead profile = ReadProfile(path);
    std::vector<std::string> folders;
    std::string err;
    const bool settings_read = ReadSettingsFile(path, &folders, &err);
    EXPECT_EQ(profile.error, c.error.empty() ? "" : path + c.error);
    EXPECT_EQ(err, profile.error);
    EXPECT_EQ(settings_read, c.error.empty());
    if (c.error.empty()) {
      EXPECT_EQ(profile.profile.source + "|" + profile.profile.destination +
                    std::to_string(profile.profile.check3),
                "/src|/dst1");
      EXPECT_EQ(folders, (std::vector<std::string>{"/src", "/dst"}));
    }
  }

  // A FIFO would hold a reader until someone writes; even one that holds
  // sound lines is not a settings file.
  const std::string fifo = tree.Path("config.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, kSound, sizeof kSound - 1),
            static_cast<ssize_t>(sizeof kSound - 1));
  std::vector<std::string> folders;
  std::string err;
  EXPECT_FALSE(ReadSettingsFile(fifo, &folders, &err));
  EXPECT_EQ(err, fifo + " is not a regular file");
  ::close(writer);
}

// A profile line gives a check box state: the leading number, blanks
// skipped anywhere, taken to the nearest whole number with halves going to
// the even one; a line without a number gives 0.
TEST(CheckStateFromLine, RoundsTheLeadingNumberToAState) {
  constexpr int kRefused = -1;  // not 0, 1 or 2
  const struct {
    int state;
    std::vector<const char*> lines;
  } cases[] = {
      {0,
       {"0", "", "   ", "abc", "x1", ".", "0.49", "-0.4", ".5", "0.5", "-0.5"}},
      {1, {" 1 ", "1", "1x", "+1", "1 x 2", "1.", "0.51", "1.49", "1e0", "1e"}},
      {2, {" 2 ", "1.5", "2.5", "2.49", "2D0", "15e-1"}},
      {kRefused, {"3", "-1", "1 0", "3.5", "2.51", "-0.6", "1e1", "1e400"}},
  };
  for (const auto& c : cases)
    for (const char* line : c.lines) {
      int state = kRefused;
      const bool ok = CheckStateFromLine(line, &state);
      EXPECT_EQ(ok ? state : kRefused, c.state) << '"' << line << '"';
    }
}

TEST(OptionsFile, WrittenBesideTheProfilesAndReadBackWithLinesItDoesNotKnow) {
  testing::TempTree tree;
  const std::string program = tree.root();
  tree.MakeFolder("profiles");
  // A profile of an earlier version: five lines, no options file.
  tree.Write("profiles/home.prf", "/a\r\n/b\r\n 1 \r\n 0 \r\n 1 \r\n");
  const std::string path = ProfileOptionsPath(program, "home.prf");
  OptionsRead read = ReadOptionsFile(DefaultPlatform(), path);
  ASSERT_TRUE(read.ok()) << read.error;
  EXPECT_EQ(read.options, ProfileOptions{});
  // A later version's setting and a comment are kept; a pattern keeps its
  // spaces and may look like a setting of its own.
  tree.Write("profiles/options/home.prf.options",
             "copy deleted files to = old\r\n# mine\n"
             "keep replaced files for days = 30\r\n"
             "leave out = node_modules/\r\nleave out=a = b \r\n"
             "leave out cache folders = 1");
  read = ReadOptionsFile(DefaultPlatform(), path);
  ASSERT_TRUE(read.ok()) << read.error;
  const ProfileOptions expected{{"node_modules/", "a = b "},
                                true,
                                {"copy deleted files to = old", "# mine"},
                                30};
  EXPECT_EQ(read.options, expected);
  std::string err;
  ASSERT_TRUE(WriteOptionsFile(DefaultPlatform(), path, expected, &err)) << err;
  EXPECT_EQ(ReadOptionsFile(DefaultPlatform(), path).options, expected);
  // The list shows files only: the options folder stays out of it, and the
  // profile itself is untouched.
  EXPECT_EQ(testing::Entries(ProfilesFolder(program)),
            (std::set<std::string>{"home.prf", "options"}));
  EXPECT_EQ(ReadProfile(tree.Path("profiles/home.prf")).profile.check3, 1);
  // A first save makes the options folder.
  fs::remove_all(ProfileOptionsFolder(program));
  ASSERT_TRUE(WriteOptionsFile(DefaultPlatform(), path, expected, &err)) << err;
  EXPECT_EQ(ReadOptionsFile(DefaultPlatform(), path).options, expected);
}

TEST(OptionsFile, ADamagedFileIsReportedNeverTakenAsEmpty) {
  testing::TempTree tree;
  for (const std::string& content :
       {std::string("leave out = a\r\nnode_modules/\r\n"),
        std::string("leave out cache folders = yes\r\n"),
        std::string("keep replaced files for days = -1\r\n"),
        std::string("keep replaced files for days = 36501\r\n"),
        std::string(kMaxTextFileBytes + 1, '#')}) {
    const std::string path = tree.Write("options.txt", content);
    const OptionsRead read = ReadOptionsFile(DefaultPlatform(), path);
    EXPECT_FALSE(read.ok()) << content.substr(0, 40);
    EXPECT_NE(read.error.find(path), std::string::npos) << read.error;
  }
}

}  // namespace
}  // namespace ferrybox
