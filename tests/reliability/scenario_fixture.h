// SPDX-License-Identifier: GPL-3.0-or-later
// Backup runs on real trees through a platform that fails chosen calls, and
// what each must leave true.
#ifndef FERRYBOX_TESTS_RELIABILITY_SCENARIO_FIXTURE_H_
#define FERRYBOX_TESTS_RELIABILITY_SCENARIO_FIXTURE_H_

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/copy_log.h"
#include "platform/temp_name.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {

using Kind = testing::FaultyPlatform::Kind;
using testing::ReadFile;
/// Regular files by path below a root, each as "bits time content", and
/// symbolic links, each as "-> target".
using Files = std::map<std::string, std::string>;

/// The regular files and links below `root`.
inline Files TakeFiles(const std::string& root) {
  Files files;
  for (const std::string& entry : testing::Entries(root, true)) {
    const std::string path = root + "/" + entry;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode))
      files[entry] = std::to_string(st.st_mode & 0777) + " " +
                     std::to_string(testing::MtimeNs(path)) + " " +
                     ReadFile(path);
    std::error_code error;
    if (S_ISLNK(st.st_mode))
      files[entry] =
          "-> " + std::filesystem::read_symlink(path, error).string();
  }
  return files;
}

/// Runs through `faults`, each of a case of its own (UseCase).
class ScenarioTest : public RunFixture {
 protected:
  ScenarioTest() {
    UsePlatform(faults);
    UseCase("case");
    std::filesystem::copy_file(FERRYBOX_CLI_PATH, cli, copy_error);
  }

  /// Fresh trees, and a fresh run, faults gone.
  void UseCase(const std::string& name) {
    faults.Heal();
    RunFixture::UseCase(name);
  }
  /// A run that shows only its own lines in List3, its own failures.
  void Go(bool incremental = false) {
    List3().clear();
    window.failures.clear();
    RunFixture::Go(incremental);
  }
  /// Its time a second on, as a clock tick may outlast a run.
  void WriteSrc(const std::string& path, const std::string& content) {
    testing::WriteFile(Src(path), content);
    testing::SetMtimeNs(Src(path), testing::MtimeNs(Src(path)) + 1000000000);
  }

  /// A backup, then changes to copy (c.txt keeps its length). The backup.
  Files MakeTreeAndEarlierBackup(size_t big_size = 3 << 20) {
    for (const char* name : {"a.txt", "sub/b.txt", "sub/c.txt", "sub/d/d"})
      WriteSrc(name, name);
    WriteSrc("empty", "");
    WriteSrc("big.bin", Pattern(big_size, 1));
    EXPECT_EQ(symlink("a.txt", Src("link").c_str()), 0);
    Go();
    ExpectFailures({});
    WriteSrc("a.txt", "a longer text");
    WriteSrc("sub/c.txt", "sub/C.txt");
    WriteSrc("big.bin", Pattern(big_size, 2));
    WriteSrc("sub/e.txt", "e");
    WriteSrc("fresh/deep/f.txt", "f");
    return TakeFiles(Dst(""));
  }
  static std::string Pattern(size_t size, int seed) {
    std::string content(size, static_cast<char>(seed));
    for (size_t i = 0; i < size; i += 1021) content[i] = (i / 1021) & 0xff;
    return content;
  }

  /// The run closed, failing exactly the files `paths` (below the
  /// destination), each once in List3 and once in the log, on one line.
  void ExpectFailures(std::vector<std::string> paths) {
    ASSERT_FALSE(List3().empty());
    EXPECT_TRUE(List3().back().starts_with("Finished....in :"));
    std::vector<std::string> shown;
    std::string log;
    for (const std::string& line : List3())
      if (line.starts_with(kCopyErrorPrefix)) shown.push_back(line);
    for (const std::string& line : shown) log += OneLine(line) + "\r\n";
    EXPECT_EQ(CopyLog(), log);
    for (std::string& path : paths) path = kCopyErrorPrefix + Dst(path);
    std::sort(paths.begin(), paths.end());
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, paths);
  }
  /// No file of `before` lost; each is its earlier copy, an exact copy of
  /// its source or one of at least one and at most `unfinished` temporary
  /// files (one per copy in flight); if `complete`, each source file has an
  /// exact copy.
  void ExpectBackup(const Files& before, bool complete, int unfinished = 0) {
    const int most = unfinished;
    const Files dst = TakeFiles(Dst("")), src = TakeFiles(Src(""));
    auto temporary = [](const std::string& path) {
      return IsTempName(path.substr(path.rfind('/') + 1));
    };
    for (const auto& [path, file] : before)
      EXPECT_TRUE(dst.count(path)) << path;
    for (const auto& [path, file] : src)
      EXPECT_TRUE(!complete || temporary(path) ||
                  (dst.count(path) && dst.at(path) == file))
          << path << " has no exact copy";
    for (const auto& [path, file] : dst)
      EXPECT_TRUE((temporary(path) && unfinished-- > 0) ||
                  (before.count(path) && before.at(path) == file) ||
                  (src.count(path) && src.at(path) == file))
          << path << " is neither its earlier copy nor its source";
    if (most > 0) {
      EXPECT_LT(unfinished, most) << "no unfinished copy left";
    }
    EXPECT_EQ(faults.open_handles(), 0u);
  }
  /// Without faults, an incremental run completes the backup for good.
  void ExpectRepaired(const Files& before) {
    faults.Heal();
    Go(true);
    ExpectFailures({});
    ExpectBackup(before, true);
    Go(true);
    EXPECT_EQ(window.Figure(FigureBox::kText4), "0") << "backup not current";
  }

  testing::FaultyPlatform faults;
  /// The command-line program, copied beside this test's copy log.
  const std::string cli = Program() + "/cli";
  std::error_code copy_error;

  ~ScenarioTest() override { run.reset(); }  // before `faults` goes
};

}  // namespace ferrybox

#endif  // FERRYBOX_TESTS_RELIABILITY_SCENARIO_FIXTURE_H_
