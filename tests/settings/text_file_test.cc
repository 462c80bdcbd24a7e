// SPDX-License-Identifier: GPL-3.0-or-later
// Settings and profile files as the readers meet them on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "settings/profile.h"
#include "settings/settings_file.h"
#include "tests/support/temp_tree.h"

namespace ferrybox {
namespace {

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

}  // namespace
}  // namespace ferrybox
