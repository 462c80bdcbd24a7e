// SPDX-License-Identifier: GPL-3.0-or-later
// Settings and profile files through the file layer: the steps of a write
// and a read, and what a failure at each leaves behind.
#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "platform/temp_name.h"
#include "settings/profile.h"
#include "settings/settings_file.h"
#include "settings/text_file.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using Call = testing::FaultyPlatform::Kind;
using Texts = std::vector<std::string>;

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
    EXPECT_EQ(files.calls(),
              (Texts{"create " + t, "write " + t, "sync " + t, "close " + t,
                     "rename " + t + " -> " + path}));
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

}  // namespace
}  // namespace ferrybox
