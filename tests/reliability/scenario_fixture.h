// Backup runs on real temporary trees through a platform that fails chosen
// calls, and the four things every such run must leave true: it reaches its
// closing line; every file it failed is reported once in List3 and once in
// the copy log; no earlier backup copy is damaged and nothing partial lies
// under a real name; and once the fault is gone an incremental run
// completes the backup.
#ifndef FERRYBOX_TESTS_RELIABILITY_SCENARIO_FIXTURE_H_
#define FERRYBOX_TESTS_RELIABILITY_SCENARIO_FIXTURE_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/backup_run.h"
#include "engine/copy_log.h"
#include "engine/message_lists.h"
#include "engine/temp_name.h"
#include "tests/support/memory_window.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"
#include "tests/support/tree_snapshot.h"

namespace ferrybox {

using testing::FaultyPlatform;
using testing::Snapshot;
using testing::SnapshotEntry;
using testing::TakeSnapshot;

/// Splits the copy log into its lines (each ended by CR LF).
inline std::vector<std::string> CopyLogLines(const std::string& log) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = log.find("\r\n", start)) != std::string::npos;
       start = end + 2)
    lines.push_back(log.substr(start, end - start));
  if (start < log.size()) lines.push_back(log.substr(start) + "<unended>");
  return lines;
}

class ScenarioTest : public ::testing::Test {
 protected:
  ScenarioTest() {
    tree.MakeFolder("program");
    UseCase("case");
  }

  /// Starts a fresh pair of trees, `name`/src and `name`/dst, and a fresh
  /// run on the faulty platform with every fault gone.
  void UseCase(const std::string& name) {
    case_ = name;
    tree.MakeFolder(name + "/src");
    window.text1 = Src("");
    window.text2 = Dst("");
    faults.Heal();
    run = std::make_unique<BackupRun>(window, lists, faults,
                                      tree.Path("program"));
  }

  void Go(bool incremental = false) {
    window.check[2] = incremental ? 1 : 0;
    run->Command3_Click();
  }

  /// Paths of the current case; "" gives the root without a separator.
  std::string Src(const std::string& relative) const {
    return tree.Path(case_ + "/src" + (relative.empty() ? "" : "/" + relative));
  }
  std::string Dst(const std::string& relative) const {
    return tree.Path(case_ + "/dst" + (relative.empty() ? "" : "/" + relative));
  }

  /// Writes a source file, making its folders first.
  void WriteSrc(const std::string& relative, const std::string& content) {
    tree.Write(case_ + "/src/" + relative, content);
  }

  std::vector<std::string>& List3() { return window.List(ListBox::kList3); }
  const std::string& Figure(FigureBox box) { return window.Figure(box); }
  /// Plans a fault for the writing of the next copy, armed when the source
  /// file `name` is opened: `nth` counts that copy's calls of `kind`.
  void FailCopyOf(const std::string& name, FaultyPlatform::Kind kind, int nth,
                  int error) {
    faults.before_call = [=, this](FaultyPlatform::Kind call,
                                   const std::string& opened) {
      if (call != FaultyPlatform::Kind::kOpen || opened != name) return;
      faults.FailNth(kind, nth, error, ".~ferrybox-");
      faults.before_call = nullptr;
    };
  }

  std::string CopyLog() {
    return testing::ReadFile(CopyLogPath(tree.Path("program")));
  }
  /// The copy-failure lines of List3, in order.
  std::vector<std::string> Failures() {
    std::vector<std::string> lines;
    for (const std::string& line : List3())
      if (line.starts_with(kCopyErrorPrefix)) lines.push_back(line);
    return lines;
  }

  /// A small tree of every shape a run meets: files in the root and in
  /// folders two deep, a link to a file, an empty file and one of
  /// `big_size` bytes, then a full backup of it (through the platform, with
  /// no fault planned), then changes to the source that the next run must
  /// copy: new content, a new file and a new folder. Returns the backup as
  /// it stands before the run under test.
  Snapshot MakeTreeAndEarlierBackup(size_t big_size = 3 << 20) {
    WriteSrc("a.txt", "alpha");
    WriteSrc("empty", "");
    WriteSrc("sub/b.txt", "beta");
    WriteSrc("sub/c.txt", "gamma");
    WriteSrc("sub/deeper/d.txt", "delta");
    WriteSrc("big.bin", Pattern(big_size, 1));
    EXPECT_EQ(symlink("a.txt", Src("link").c_str()), 0);
    Go();
    EXPECT_TRUE(Failures().empty());
    List3().clear();

    // Same lengths for two of them: only content and time tell. The times
    // move on a second, as a clock tick may be coarser than a run.
    WriteSrc("a.txt", "alpha, second edition");
    WriteSrc("sub/c.txt", "GAMMA");
    WriteSrc("big.bin", Pattern(big_size, 2));
    for (const char* changed : {"a.txt", "sub/c.txt", "big.bin"})
      testing::SetMtimeNs(Src(changed),
                          testing::MtimeNs(Src(changed)) + 1000000000);
    WriteSrc("sub/e.txt", "epsilon");
    WriteSrc("fresh/deep/f.txt", "phi");
    return TakeSnapshot(Dst(""));
  }

  static std::string Pattern(size_t size, int seed) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i)
      content[i] = static_cast<char>((i * 131 + seed * 7 + i / 4099) & 0xff);
    return content;
  }

  /// 1. The newest line of List3 is a closing line.
  void ExpectClosingLine() {
    ASSERT_FALSE(List3().empty());
    EXPECT_TRUE(List3().back().starts_with("Finished....in :"))
        << List3().back();
  }

  /// 2. The run failed exactly the files `relative` (paths below the
  /// destination root): each once in List3, each once in the copy log.
  void ExpectFailures(std::vector<std::string> relative) {
    std::vector<std::string> expected;
    for (const std::string& path : relative)
      expected.push_back(kCopyErrorPrefix + Dst(path));
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> shown = Failures();
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, expected);
    std::vector<std::string> logged = CopyLogLines(CopyLog());
    std::sort(logged.begin(), logged.end());
    EXPECT_EQ(logged, expected);
  }

  /// 2, when which files fail is not known in advance: List3 and the copy
  /// log name the same failures, none twice, and every source file without
  /// an exact copy is among them, itself or through a folder above it.
  void ExpectEveryLossReported() {
    std::vector<std::string> shown = Failures();
    std::vector<std::string> logged = CopyLogLines(CopyLog());
    EXPECT_EQ(shown, logged);
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(std::adjacent_find(shown.begin(), shown.end()), shown.end())
        << "a failure reported twice";
    const Snapshot dst = TakeSnapshot(Dst(""));
    for (const auto& [path, entry] : CopiedFiles(TakeSnapshot(Src("")))) {
      auto it = dst.find(path);
      if (it != dst.end() && SameCopy(it->second, entry)) continue;
      bool reported = std::binary_search(shown.begin(), shown.end(),
                                         kCopyErrorPrefix + Dst(""));
      for (std::string at = path; !reported;) {
        reported = std::binary_search(shown.begin(), shown.end(),
                                      kCopyErrorPrefix + Dst(at));
        const size_t cut = at.rfind('/');
        if (cut == std::string::npos) break;
        at.resize(cut);
      }
      EXPECT_TRUE(reported) << path << " was neither copied nor reported";
    }
  }

  /// 3. Every file of the destination is its earlier copy in `before` or an
  /// exact copy of its source as it stands now, and no temporary file is
  /// left anywhere.
  void ExpectNoDamage(const Snapshot& before) {
    const Snapshot src = CopiedFiles(TakeSnapshot(Src("")));
    for (const auto& [path, entry] : TakeSnapshot(Dst(""))) {
      EXPECT_FALSE(IsTempName(testing::BaseName(path)))
          << "temporary file left: " << path;
      if (entry.type != SnapshotEntry::kFile) continue;
      auto earlier = before.find(path);
      auto source = src.find(path);
      const bool is_earlier =
          earlier != before.end() && earlier->second == entry;
      const bool is_current =
          source != src.end() && SameCopy(entry, source->second);
      EXPECT_TRUE(is_earlier || is_current)
          << path << " is neither its earlier copy nor its source";
    }
    EXPECT_EQ(faults.open_handles(), 0u);
  }

  /// 4. With every fault gone, an incremental run closes without a failure
  /// and leaves an exact copy of every source file; the run after it finds
  /// nothing to copy.
  void ExpectIncrementalRunCompletes() {
    faults.Heal();
    List3().clear();
    Go(true);
    ExpectClosingLine();
    EXPECT_EQ(Failures(), std::vector<std::string>{});
    EXPECT_EQ(CopyLog(), "");
    ExpectComplete();
    Go(true);
    EXPECT_EQ(Figure(FigureBox::kText4), "0") << "the backup was not current";
    EXPECT_EQ(faults.open_handles(), 0u);
  }

  /// Every source file has an exact copy and no temporary file is left.
  void ExpectComplete() {
    const Snapshot dst = TakeSnapshot(Dst(""));
    for (const auto& [path, entry] : CopiedFiles(TakeSnapshot(Src("")))) {
      auto it = dst.find(path);
      EXPECT_TRUE(it != dst.end() && SameCopy(it->second, entry))
          << path << " has no exact copy";
    }
    for (const auto& [path, entry] : dst)
      EXPECT_FALSE(IsTempName(testing::BaseName(path))) << path;
  }

  /// The files a run copies from a source snapshot: its regular files, and
  /// its links to regular files as the files they lead to.
  Snapshot CopiedFiles(const Snapshot& source) {
    Snapshot files;
    for (const auto& [path, entry] : source) {
      if (entry.type == SnapshotEntry::kFile) files[path] = entry;
      if (entry.type != SnapshotEntry::kLink) continue;
      const std::string target = Src(path);
      struct stat st;
      if (stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      SnapshotEntry file;
      file.type = SnapshotEntry::kFile;
      file.content = testing::ReadFile(target);
      file.mtime_ns = testing::MtimeNs(target);
      file.mode = st.st_mode & 07777;
      files[path] = file;
    }
    return files;
  }

  /// A copy matches its source in content, last-modified time and
  /// permission bits.
  static bool SameCopy(const SnapshotEntry& copy, const SnapshotEntry& source) {
    return copy.type == SnapshotEntry::kFile &&
           copy.content == source.content && copy.mtime_ns == source.mtime_ns &&
           (copy.mode & 0777) == (source.mode & 0777);
  }

  testing::TempTree tree;
  testing::MemoryWindow window;
  MessageLists lists{window};
  FaultyPlatform faults;
  std::unique_ptr<BackupRun> run;

 private:
  std::string case_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_TESTS_RELIABILITY_SCENARIO_FIXTURE_H_
