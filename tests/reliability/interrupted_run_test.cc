// The command-line program killed in the middle of a copy, and held to a
// file-size limit, as a real process on real trees.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/copy_log.h"
#include "engine/temp_name.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tree_snapshot.h"

namespace ferrybox {
namespace {

using testing::ReadFile;
using testing::Snapshot;
using testing::SnapshotEntry;
using testing::TakeSnapshot;

std::string Pattern(size_t size, int seed) {
  std::string content(size, '\0');
  for (size_t i = 0; i < size; ++i)
    content[i] = static_cast<char>((i * 131 + seed * 7 + i / 4099) & 0xff);
  return content;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

int Count(const std::vector<std::string>& lines, const std::string& prefix) {
  int count = 0;
  for (const std::string& line : lines) count += line.starts_with(prefix);
  return count;
}

class InterruptedRun : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef FERRYBOX_CLI_PATH
    GTEST_SKIP() << "ferrybox-cli is not part of this build";
#else
    // A copy of its own, so that the copy log beside it is this test's.
    tree.MakeFolder("program");
    program_ = tree.Path("program/ferrybox-cli");
    std::filesystem::copy_file(FERRYBOX_CLI_PATH, program_);
    tree.MakeFolder("src");
    src_ = tree.Path("src");
    dst_ = tree.Path("dst");
#endif
  }

  /// Starts the program with `args`, its outputs into files, under a
  /// file-size limit of `file_size_limit` bytes (0: none) and with SIGXFSZ
  /// as a fresh login shell leaves it.
  pid_t Start(const std::vector<std::string>& args, rlim_t file_size_limit) {
    output_ = tree.Path("program/output.txt");
    errors_ = tree.Path("program/errors.txt");
    const pid_t child = fork();
    if (child != 0) return child;
    const int out = open(output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    signal(SIGXFSZ, SIG_DFL);
    if (file_size_limit != 0) {
      const struct rlimit limit = {file_size_limit, file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
    }
    std::vector<char*> argv = {program_.data()};
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program_.c_str(), argv.data());
    _exit(127);
  }

  /// Waits for the program; its exit status, or 1000 + the signal that
  /// ended it.
  int Wait(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  }

  int Run(const std::vector<std::string>& args, rlim_t file_size_limit = 0) {
    return Wait(Start(args, file_size_limit));
  }

  /// The run's lines on standard output.
  std::vector<std::string> Output() { return Lines(ReadFile(output_)); }
  std::string CopyLog() { return ReadFile(CopyLogPath(tree.Path("program"))); }

  /// Names in the destination root that are unfinished copies.
  std::vector<std::string> Unfinished() {
    std::vector<std::string> names;
    for (const auto& [path, entry] : TakeSnapshot(dst_))
      if (IsTempName(testing::BaseName(path))) names.push_back(path);
    return names;
  }

  testing::TempTree tree;
  std::string program_;
  std::string src_;
  std::string dst_;
  std::string output_;
  std::string errors_;
};

TEST_F(InterruptedRun, KilledInTheMiddleOfACopyThenRunAgain) {
  constexpr int kFiles = 6;
  constexpr size_t kSize = 4 << 20;
  for (int i = 0; i < kFiles; ++i)
    tree.Write("src/f" + std::to_string(i), Pattern(kSize, 1));
  ASSERT_EQ(Run({src_, dst_}), 0);
  // Every file changes, so the next full run replaces every copy.
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = tree.Path("src/f" + std::to_string(i));
    tree.Write("src/f" + std::to_string(i), Pattern(kSize, 2));
    testing::SetMtimeNs(path, testing::MtimeNs(path) + 1000000000);
  }
  const Snapshot source = TakeSnapshot(src_);

  // Watch for the run's unfinished copies, freeze the run when one appears,
  // and kill it if one is still there. A run that slips through is made
  // again: it replaces each copy by the same new version.
  Snapshot earlier;
  bool killed = false;
  int status = -1;
  for (int attempt = 0; attempt < 5 && !killed; ++attempt) {
    earlier = TakeSnapshot(dst_);
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dst_.c_str(), IN_CREATE), 0);
    const pid_t child = Start({src_, dst_}, 0);
    bool ended = false;
    while (!killed && !ended) {
      struct pollfd ready = {watch, POLLIN, 0};
      if (poll(&ready, 1, 20000) <= 0) break;
      alignas(struct inotify_event) char events[4096];
      while (read(watch, events, sizeof events) > 0) {
      }
      ASSERT_EQ(kill(child, SIGSTOP), 0);
      int stopped = 0;
      ASSERT_EQ(waitpid(child, &stopped, WUNTRACED), child);
      if (!WIFSTOPPED(stopped)) {
        ended = true;  // and reaped
      } else if (!Unfinished().empty()) {
        killed = kill(child, SIGKILL) == 0;
      } else {
        ASSERT_EQ(kill(child, SIGCONT), 0);
      }
    }
    close(watch);
    if (!ended) status = Wait(child);
  }
  ASSERT_TRUE(killed) << "no run was caught in the middle of a copy";
  ASSERT_EQ(status, 1000 + SIGKILL);

  // The kill left an unfinished copy, readable by its owner only, and no
  // copy under a real name is damaged: each is its earlier or its new
  // version, whole.
  const std::vector<std::string> unfinished = Unfinished();
  ASSERT_EQ(unfinished.size(), 1u);
  EXPECT_EQ(testing::Mode(dst_ + "/" + unfinished[0]), 0600u);
  int replaced = 0;
  for (const auto& [path, entry] : TakeSnapshot(dst_)) {
    if (path == unfinished[0]) continue;
    ASSERT_TRUE(entry.type == SnapshotEntry::kFile) << path;
    const bool is_earlier = earlier.count(path) && earlier.at(path) == entry;
    const bool is_new = entry.content == source.at(path).content &&
                        entry.mtime_ns == source.at(path).mtime_ns;
    EXPECT_TRUE(is_earlier || is_new) << path << " is damaged";
    replaced += is_new;
  }
  EXPECT_LT(replaced, kFiles);

  // The next incremental run removes the leftover and completes the backup.
  ASSERT_EQ(Run({"--incremental", src_, dst_}), 0);
  const std::vector<std::string> lines = Output();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().starts_with("Finished....in :"));
  EXPECT_EQ(Count(lines, kCopyErrorPrefix), 0);
  EXPECT_EQ(CopyLog(), "");
  EXPECT_TRUE(Unfinished().empty());
  const Snapshot after = TakeSnapshot(dst_);
  for (const auto& [path, entry] : source) {
    ASSERT_TRUE(after.count(path)) << path;
    EXPECT_TRUE(after.at(path).content == entry.content) << path;
    EXPECT_EQ(after.at(path).mtime_ns, entry.mtime_ns) << path;
  }
  EXPECT_EQ(after.size(), source.size());

  // And the one after it finds nothing left to copy.
  ASSERT_EQ(Run({"--incremental", "--show-files", src_, dst_}), 0);
  EXPECT_EQ(Count(Output(), "New File, Copying: "), 0);
  EXPECT_EQ(Count(Output(), "Different File, Updating="), 0);
}

TEST_F(InterruptedRun, AFileSizeLimitFailsTheBigFileNotTheRun) {
  tree.Write("src/small.txt", "small");
  tree.Write("src/big.bin", Pattern(2 << 20, 1));
  // The limit also holds for the copy log beside the program: its lines
  // are far below it.
  const int status = Run({src_, dst_}, 1 << 20);
  ASSERT_NE(status, 125) << "cannot set RLIMIT_FSIZE";
  EXPECT_EQ(status, 1) << "1000 + 25 is death by SIGXFSZ; "
                       << ReadFile(errors_);
  const std::vector<std::string> lines = Output();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().starts_with("Finished....in :")) << lines.back();
  const std::string failure = kCopyErrorPrefix + dst_ + "/big.bin";
  EXPECT_EQ(Count(lines, kCopyErrorPrefix), 1);
  EXPECT_EQ(Count(lines, failure), 1);
  EXPECT_EQ(CopyLog(), failure + "\r\n");
  EXPECT_TRUE(Unfinished().empty());
  EXPECT_FALSE(testing::Exists(dst_ + "/big.bin"));
  EXPECT_EQ(ReadFile(dst_ + "/small.txt"), "small");

  // Without the limit the next incremental run completes the backup.
  ASSERT_EQ(Run({"--incremental", src_, dst_}), 0);
  EXPECT_TRUE(ReadFile(dst_ + "/big.bin") == Pattern(2 << 20, 1));
  EXPECT_EQ(CopyLog(), "");
}

}  // namespace
}  // namespace ferrybox
