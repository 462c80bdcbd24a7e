// SPDX-License-Identifier: GPL-3.0-or-later
// ferrybox-cli: its command line as the parser reads it, runs in-process on
// real temporary trees, and the real program stopped by a signal.
#include "cli/run_cli.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "cli/cli_arguments.h"
#include "engine/backup_run.h"
#include "engine/copy_log.h"
#include "engine/file_copy.h"
#include "engine/message_lists.h"
#include "platform/platform.h"
#include "settings/options_file.h"
#include "settings/profile.h"
#include "tests/support/child_process.h"
#include "tests/support/memory_window.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using Kind = testing::FaultyPlatform::Kind;
using testing::ChildProcess;
using testing::ReadFile;
using testing::SplitLines;
using testing::WriteFile;
using Seconds = ChildProcess::Seconds;

using Action = CliRequest::Action;

std::string Describe(const std::vector<std::string>& args) {
  CliRequest request;
  std::string error;
  if (!ParseCliArguments(args, &request, &error)) return "error: " + error;
  switch (request.action) {
    case Action::kHelp:
      return "help";
    case Action::kVersion:
      return "version";
    case Action::kProfile:
    case Action::kRun:
      break;
  }
  std::string text = request.action == Action::kProfile
                         ? "profile " + request.profile
                         : "run " + request.source + " " + request.destination;
  if (request.incremental || request.show_files) text += " ";
  if (request.incremental) text += "i";
  if (request.show_files) text += "s";
  for (const std::string& pattern : request.exclude) text += " x:" + pattern;
  for (const std::string& file : request.exclude_from) text += " f:" + file;
  if (request.exclude_caches) text += " c";
  if (request.keep_days) text += " k:" + std::to_string(*request.keep_days);
  if (request.check_attributes) text += " a";
  if (request.dry_run) text += " d";
  return text;
}

TEST(ParseCliArguments, TakesEachAcceptedFormAndRefusesEverythingElse) {
  const struct {
    std::vector<std::string> args;
    /// What the request reads as: "run SRC DST [i][s]", "profile NAME",
    /// "help", "version", or "error: " and the start of the explanation.
    std::string expected;
  } cases[] = {
      // Options before, between and after the two folders.
      {{"/a", "/b"}, "run /a /b"},
      {{"--incremental", "/a", "/b"}, "run /a /b i"},
      {{"/a", "--show-files", "/b"}, "run /a /b s"},
      {{"/a", "/b", "--show-files", "--incremental"}, "run /a /b is"},
      // "--" ends the options: what follows is a folder, whatever it is.
      {{"--", "--help", "-x"}, "run --help -x"},
      {{"/a", "--", "--version"}, "run /a --version"},
      {{"--incremental", "--", "-", "--"}, "run - -- i"},
      {{"-", "/b"}, "run - /b"},
      // Exactly two folders.
      {{"/a", "/b", "/c"}, "error: too many arguments"},
      {{"/a", "--", "/b", "/c"}, "error: too many arguments"},
      {{"/a"}, "error: SOURCE and DESTINATION are both needed"},
      {{}, "error: SOURCE and DESTINATION are both needed"},
      {{"--", "--incremental"}, "error: SOURCE and DESTINATION"},
      {{"-x", "/a", "/b"}, "error: unknown option -x"},
      {{"/a", "/b", "--incremental=1"}, "error: unknown option"},
      // A profile, in either spelling, with nothing else.
      {{"--profile", "work"}, "profile work"},
      {{"--profile=work"}, "profile work"},
      {{"--profile=a=b c"}, "profile a=b c"},
      {{"--profile", "-x"}, "profile -x"},
      {{"--profile"}, "error: --profile needs a NAME"},
      {{"--profile="}, "error: --profile needs a NAME"},
      {{"--profile", "a", "--profile=b"}, "error: --profile may be given"},
      {{"--profile", "work", "/a"}, "error: --profile takes its folders"},
      {{"/a", "/b", "--profile=work"}, "error: --profile takes its folders"},
      {{"--incremental", "--profile=work"}, "error: --profile takes"},
      {{"--profile", "work", "--show-files"}, "error: --profile takes"},
      // Leave-out options, with folders or a profile, in order.
      {{"--exclude", "*.o", "/a", "--exclude=b/", "/b"},
       "run /a /b x:*.o x:b/"},
      {{"--exclude-from", "l", "--exclude-caches", "/a", "/b"},
       "run /a /b f:l c"},
      {{"--profile=w", "--exclude-from=l", "--exclude", "--"},
       "profile w x:-- f:l"},
      {{"/a", "/b", "--exclude"}, "error: --exclude needs a PATTERN"},
      // Attributes compared for every file, with folders or a profile.
      {{"--check-attributes", "--incremental", "/a", "/b"}, "run /a /b i a"},
      {{"--profile=w", "--check-attributes"}, "profile w a"},
      // A dry run, with folders or a profile.
      {{"/a", "--dry-run", "--show-files", "/b"}, "run /a /b s d"},
      {{"--dry-run", "--profile=w"}, "profile w d"},
      {{"/a", "/b", "--exclude-from"}, "error: --exclude-from needs a FILE"},
      // Days earlier versions are kept for.
      {{"--keep-versions", "30", "/a", "/b"}, "run /a /b k:30"},
      {{"--profile=w", "--keep-versions=0"}, "profile w k:0"},
      {{"/a", "/b", "--keep-versions"}, "error: --keep-versions needs"},
      {{"/a", "/b", "--keep-versions=-1"}, "error: --keep-versions takes"},
      {{"/a", "/b", "--keep-versions", "36501"}, "error: --keep-versions"},
      // --help and --version win over everything before "--".
      {{"/a", "/b", "/c", "--help"}, "help"},
      {{"-h"}, "help"},
      {{"--bogus", "--version"}, "version"},
      {{"--version", "--help"}, "help"},
      {{"--", "--help", "/b", "/c"}, "error: too many arguments"},
  };
  for (const auto& c : cases) {
    std::string args;
    for (const std::string& arg : c.args) args += "[" + arg + "]";
    SCOPED_TRACE(args);
    EXPECT_TRUE(Describe(c.args).starts_with(c.expected)) << Describe(c.args);
    if (!c.expected.starts_with("error: ")) {
      EXPECT_EQ(Describe(c.args), c.expected);
    }
  }
}

// The start and closing lines carry the time; everything else is exact.
std::vector<std::string> WithoutTimes(std::vector<std::string> lines) {
  for (std::string& line : lines) {
    if (line.starts_with("Starting copy: ")) line = "Starting copy: <time>";
    if (line.starts_with("Finished....in :")) line = "Finished....in :<s>";
  }
  return lines;
}

class RunCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(src_ + "/a.txt", "alpha");
    WriteFile(src_ + "/sub/deeper/c d.txt", "c and d");
  }

  int Run(const std::vector<std::string>& args,
          Platform& platform = DefaultPlatform(),
          std::function<bool()> stop_requested = nullptr) {
    out_.str("");
    err_.str("");
    CliContext context{out_, err_};
    context.err_is_terminal = err_is_terminal_;
    context.program_folder = [this] { return program_.root(); };
    context.platform = &platform;
    context.stop_requested = std::move(stop_requested);
    return RunCli(args, context);
  }

  std::vector<std::string> OutLines() const { return SplitLines(out_.str()); }

  testing::TempTree program_;
  testing::TempTree trees_;
  std::string src_ = trees_.Path("src");
  std::string dst_ = trees_.Path("dst");
  std::ostringstream out_;
  std::ostringstream err_;
  bool err_is_terminal_ = false;
};

TEST_F(RunCliTest, OutputIsExactlyTheListLinesFileLinesOnlyOnRequest) {
  // The same run through an in-memory window with both boxes ticked, then
  // through the command line into the same (again empty) destination.
  testing::MemoryWindow window;
  window.text1 = src_;
  window.text2 = dst_;
  window.check[0] = window.check[1] = 1;
  MessageLists lists(window);
  BackupRun run(window, lists, DefaultPlatform(), program_.root());
  run.Command3_Click();
  std::filesystem::rename(dst_, trees_.Path("first"));

  EXPECT_EQ(Run({"--show-files", src_, dst_}), kExitOk);
  EXPECT_EQ(WithoutTimes(OutLines()), WithoutTimes(window.all_lines));
  EXPECT_NE(out_.str().find(src_ + "/sub/deeper/c d.txt\n"), std::string::npos);

  // Only on a terminal is the progress line shown, and cleared at the end.
  for (bool terminal : {false, true}) {
    SCOPED_TRACE(terminal);
    err_is_terminal_ = terminal;
    EXPECT_EQ(Run({src_, dst_}), kExitOk);
    EXPECT_EQ(
        WithoutTimes(OutLines()),
        (std::vector<std::string>{"Starting copy: <time>", "Please wait...",
                                  "Finished....in :<s>"}));
    const std::string err = err_.str();
    EXPECT_TRUE(terminal ? err.starts_with("\rScanning files...") &&
                               err.ends_with("\r\x1b[K")
                         : err.empty())
        << err;
  }
}

TEST_F(RunCliTest, WrongArgumentsUnknownProfilesAndRefusedRunsExitWithTwo) {
  WriteFile(trees_.Path("outside.prf"),
            src_ + "\r\n" + dst_ + "\r\n 0 \r\n 0 \r\n 0 \r\n");
  const std::string damaged = ProfilePath(program_.root(), "damaged");
  WriteFile(damaged, std::string(65 << 10, '\n'));
  // A profile is not typed in a shell: its folders are taken as they are,
  // as the window takes them.
  WriteFile(ProfilePath(program_.root(), "relative"),
            "src\r\ndst\r\n 0 \r\n 0 \r\n 0 \r\n");
  WriteFile(ProfilePath(program_.root(), "options"),
            src_ + "\r\n" + dst_ + "\r\n 0 \r\n 0 \r\n 0 \r\n");
  const std::string options =
      ProfileOptionsPath(program_.root(), "options.prf");
  WriteFile(options, "leave out cache folders = maybe\r\n");
  struct Case {
    std::vector<std::string> args;
    std::string explanation;
  };
  const Case cases[] = {
      {{"--bad\noption"}, "unknown option --bad\\x0aoption\nUsage: "},
      {{"--profile", "damaged"}, damaged + " is damaged: larger than 64 KiB\n"},
      {{"--profile", "nothing"}, "no profile \"nothing\""},
      {{"--profile", "options"}, options + ", line 1: "},
      {{"--exclude-from", trees_.Path("none"), src_, dst_},
       trees_.Path("none")},
      {{"--profile", "../outside"}, "not a profile name"},
      {{"--profile", "relative"},
       std::string("refused: ") + kSourceNotFullPath},
      {{trees_.Path("missing"), dst_},
       std::string("refused: ") + kSourceFolderNotFound},
      {{src_, src_ + "/"}, std::string("refused: ") + kSameFolder},
      {{src_ + "/../src", trees_.root()},
       std::string("refused: ") + kSourceInsideDestination},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.explanation);
    EXPECT_EQ(Run(c.args), kExitRefused);
    EXPECT_TRUE(err_.str().starts_with("ferrybox-cli: ")) << err_.str();
    EXPECT_NE(err_.str().find(c.explanation), std::string::npos) << err_.str();
    if (c.explanation.starts_with("refused: "))  // the run itself started
      EXPECT_TRUE(OutLines().back().starts_with("Finished....in :"));
    else
      EXPECT_EQ(out_.str(), "");
  }
  EXPECT_FALSE(std::filesystem::exists(dst_));
  EXPECT_FALSE(std::filesystem::exists(src_ + "/src"));

  EXPECT_EQ(Run({"--version"}), kExitOk);
  EXPECT_EQ(out_.str(), "1.1.28\n");
}

TEST_F(RunCliTest, EachFailedCopySaysWhyOnOneLineAndTheSummaryCountsReasons) {
  // A name that would end the output early if written as it is.
  const std::string evil = "evil\nFinished....in :0.00 seconds\x1b[2J";
  const std::string shown = "evil\\x0aFinished....in :0.00 seconds\\x1b[2J";
  WriteFile(src_ + "/" + evil, "e");
  WriteFile(src_ + "/ok.txt", "ok");
  // Neither a folder in the way of a copy nor a file in the way of a folder
  // is replaced; a planted link is, itself.
  WriteFile(dst_ + "/a.txt/keep", "in the way");
  WriteFile(dst_ + "/" + evil + "/keep", "in the way");
  WriteFile(dst_ + "/sub/deeper", "in the way");
  std::filesystem::create_symlink("elsewhere", dst_ + "/ok.txt");

  // A dry run shows the same lines and counts the same failures, and
  // writes nothing: no copy log, and the link stays.
  const std::string log = CopyLogPath(program_.root());
  EXPECT_EQ(Run({"--dry-run", "--show-files", src_, dst_}), kExitCopyFailed);
  const std::vector<std::string> dry_out = OutLines();
  std::vector<std::string> dry_err = SplitLines(err_.str());
  EXPECT_FALSE(std::filesystem::exists(log));
  EXPECT_TRUE(std::filesystem::is_symlink(dst_ + "/ok.txt"));
  ASSERT_EQ(dry_err.size(), 5u) << err_.str();
  EXPECT_EQ(dry_err.end()[-2],
            "ferrybox-cli: 3 copies would fail (Is a directory: 2, Not a "
            "directory: 1)");
  EXPECT_EQ(dry_err.back(), "ferrybox-cli: dry run: nothing was written");

  EXPECT_EQ(Run({"--show-files", src_, dst_}), kExitCopyFailed);
  const std::vector<std::string> out = OutLines();
  EXPECT_EQ(WithoutTimes(dry_out), WithoutTimes(out));
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    EXPECT_FALSE(out[i].starts_with("Finished")) << out[i];
    EXPECT_EQ(out[i].find('\x1b'), std::string::npos) << out[i];
  }
  EXPECT_TRUE(out.back().starts_with("Finished....in :"));
  EXPECT_NE(out_.str().find("\n" + src_ + "/" + shown + "\n"),
            std::string::npos);
  EXPECT_NE(
      out_.str().find("\nError copying file: " + dst_ + "/" + shown + "\n"),
      std::string::npos)
      << out_.str();
  EXPECT_EQ(SplitLines(ReadFile(log)).size(), 3u);
  EXPECT_EQ(ReadFile(dst_ + "/ok.txt"), "ok");
  EXPECT_TRUE(std::filesystem::is_regular_file(
      std::filesystem::symlink_status(dst_ + "/ok.txt")));

  std::vector<std::string> err = SplitLines(err_.str());
  ASSERT_EQ(err.size(), 4u) << err_.str();
  EXPECT_EQ(err.back(),
            "ferrybox-cli: 3 copies failed (Is a directory: 2, Not a "
            "directory: 1); the copy log lists them: " +
                log);
  err.pop_back();
  dry_err.resize(3);
  EXPECT_EQ(dry_err, err);
  const auto line = [this](const std::string& name, const char* reason) {
    return "ferrybox-cli: cannot copy " + src_ + "/" + name + " to " + dst_ +
           "/" + name + ": " + reason;
  };
  EXPECT_EQ(std::set<std::string>(err.begin(), err.end()),
            (std::set<std::string>{
                line("a.txt", "Is a directory"), line(shown, "Is a directory"),
                line("sub/deeper/c d.txt", "Not a directory")}));

  // A copy log that cannot be written is not said to list anything; one
  // failed copy alone is a failed run.
  std::filesystem::remove(log);
  std::filesystem::create_directory(log);
  std::filesystem::remove_all(dst_ + "/a.txt");
  std::filesystem::remove_all(dst_ + "/" + evil);
  EXPECT_EQ(Run({src_, dst_}), kExitCopyFailed);
  EXPECT_TRUE(err_.str().ends_with(
      "; the copy log could not be written: " + log + ": Is a directory\n"))
      << err_.str();
}

TEST_F(RunCliTest, FoldersAreJoinedToTheWorkingFolderOrComeFromAProfile) {
  const std::filesystem::path earlier = std::filesystem::current_path();
  std::filesystem::current_path(trees_.root());
  const std::string work = std::filesystem::current_path().string();
  const int exit = Run({"--show-files", "src", "sub/../dst"});
  std::filesystem::current_path(earlier);
  EXPECT_EQ(exit, kExitOk) << err_.str();
  EXPECT_EQ(ReadFile(dst_ + "/a.txt"), "alpha");
  // Joined as written: ".." is left for the file system to follow.
  const std::vector<std::string> lines = OutLines();
  for (const std::string& line :
       {work + "/src/a.txt",
        "New File, Copying: " + work + "/sub/../dst/a.txt"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;

  // A profile's folders, then only the source list's Show Files ticked.
  const std::string to = trees_.Path("from profile");
  WriteFile(ProfilesFolder(program_.root()) + "/work.prf",
            src_ + "\r\n" + to + "\r\n 1 \r\n 0 \r\n 0 \r\n");
  for (const std::string name : {"work", "work.prf"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Run({"--profile", name}), kExitOk) << err_.str();
    EXPECT_NE(out_.str().find(src_ + "/a.txt\n"), std::string::npos)
        << "Show Files came from the profile: " << out_.str();
  }
  EXPECT_EQ(ReadFile(to + "/a.txt"), "alpha");
}

TEST_F(RunCliTest, AProfileLeavesOutItsOwnListAndTheCommandLineAddsToIt) {
  WriteFile(src_ + "/b.tmp", "b");
  WriteFile(src_ + "/c.log", "c");
  WriteFile(ProfilePath(program_.root(), "work"),
            src_ + "\r\n" + dst_ + "\r\n 0 \r\n 0 \r\n 0 \r\n");
  WriteFile(ProfileOptionsPath(program_.root(), "work.prf"),
            "leave out = *.tmp\r\n");
  WriteFile(trees_.Path("list"), "# from a file\n/sub/\n");
  EXPECT_EQ(Run({"--profile", "work", "--exclude", "*.log", "--exclude-from",
                 trees_.Path("list")}),
            kExitOk)
      << err_.str();
  EXPECT_EQ(testing::Entries(dst_), std::set<std::string>{"a.txt"});
  const std::vector<std::string> out = OutLines();
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out[out.size() - 2], "Left out: 3 files and folders");
  EXPECT_EQ(err_.str(), "ferrybox-cli: Left out: 3 files and folders\n");
  // Nothing left out, nothing said.
  EXPECT_EQ(Run({src_, dst_}), kExitOk);
  EXPECT_EQ(out_.str().find("Left out"), std::string::npos);
  EXPECT_EQ(err_.str(), "");
  // The profile keeps what it replaces for its own days; the command line
  // says otherwise.
  WriteFile(ProfileOptionsPath(program_.root(), "work.prf"),
            "keep replaced files for days = 5\r\n");
  for (const bool given : {false, true}) {
    WriteFile(src_ + "/a.txt", given ? "third" : "second");
    std::vector<std::string> args = {"--profile", "work"};
    if (given) args.insert(args.end(), {"--keep-versions", "0"});
    EXPECT_EQ(Run(args), kExitOk) << err_.str();
    // The marker, one run folder and its a.txt: none kept the second time.
    EXPECT_EQ(testing::Entries(dst_ + "/.ferrybox-versions", true).size(), 3u);
  }
}

TEST_F(RunCliTest, AStopEndsTheScanAtOnceOrBreaksOffTheFileInHandAndNamesIt) {
  const std::string large = "/sub/deeper/last/large";
  WriteFile(src_ + large, std::string(3 * kCopyChunk, 'l'));
  // Each folder takes longer to list than the scan goes without a tick; the
  // large file is read slowly enough for the stop to be seen while it is
  // copied.
  for (const Kind slow : {Kind::kList, Kind::kRead}) {
    SCOPED_TRACE(slow == Kind::kList ? "scan" : "copy");
    testing::FaultyPlatform platform;
    platform.chunk_limit = 1 << 20;
    std::atomic<int> slowed{0};
    platform.before_call = [&](Kind kind, const std::string& name) {
      if (kind != slow || (kind == Kind::kRead && name != "large")) return;
      ++slowed;
      std::this_thread::sleep_for(
          std::chrono::milliseconds(kind == Kind::kList ? 120 : 40));
    };
    EXPECT_EQ(Run({src_, dst_}, platform, [&slowed] { return slowed > 0; }),
              kExitStopped);
    EXPECT_FALSE(testing::Exists(dst_ + large));
    if (slow == Kind::kList) {
      EXPECT_EQ(slowed, 1) << "the scan went on after the stop";
      EXPECT_FALSE(testing::Exists(dst_));
    } else {
      EXPECT_NE(err_.str().find(src_ + large), std::string::npos) << err_.str();
      EXPECT_TRUE(OutLines().back().starts_with("Finished....in :"));
    }
  }
}

struct SignalCase {
  const char* name;
  int signal;
  ChildProcess::Err err;
  bool reading;  // else nobody reads the output and its pipe is full
};

class CliProcess : public ::testing::TestWithParam<SignalCase> {};

TEST_P(CliProcess, ASignalStopsAfterTheFileInHandReadOrNotAndExits130) {
  const SignalCase& c = GetParam();
  // Long names make the listing far larger than a pipe holds, so the run
  // cannot finish while the test is not reading.
  constexpr size_t kFiles = 300;
  testing::TempTree tree;
  const std::string src = tree.Path("src");
  const std::string level = "/" + std::string(250, 'd');
  const std::string folder = src + level + level + level;
  for (size_t i = 0; i < kFiles; ++i)
    testing::WriteFile(folder + "/" + std::string(200, 'f') + std::to_string(i),
                       std::to_string(i));
  // A copy of the program of its own, so the copy log beside it is ours.
  const std::string program = tree.Path("ferrybox-cli");
  const std::string dst = tree.Path("dst");
  std::filesystem::copy_file(FERRYBOX_CLI_PATH, program);
  ChildProcess child(program, {"--show-files", src, dst}, c.err);
  ASSERT_TRUE(child.started());
  // The pipe is full once its content stops growing.
  const auto deadline = std::chrono::steady_clock::now() + Seconds(10);
  for (int before = -1;
       !c.reading && (before != child.Unread() || before <= 0);) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    before = child.Unread();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ASSERT_TRUE(!c.reading || child.ReadOutputUntil(folder + "/"));
  child.Signal(c.signal);
  if (c.reading) {
    EXPECT_EQ(child.Finish(), 130);
    EXPECT_TRUE(
        testing::SplitLines(child.out()).back().starts_with("Finished....in :"))
        << "the closing line was written";
  } else {
    EXPECT_EQ(child.WaitExit(Seconds(5)), 130);
  }
  // Every file at the destination is complete and nothing else is there:
  // no temporary file, no partial copy under a real name. Some files were
  // copied, not all.
  const auto source = testing::Entries(src, true);
  size_t files = 0;
  for (const std::string& entry : testing::Entries(dst, true)) {
    ASSERT_TRUE(source.count(entry)) << "unexpected " << entry;
    if (std::filesystem::is_regular_file(dst + "/" + entry)) {
      ++files;
      ASSERT_EQ(ReadFile(dst + "/" + entry), ReadFile(src + "/" + entry));
    }
  }
  EXPECT_GT(files, 0u);
  EXPECT_LT(files, kFiles);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, CliProcess,
    ::testing::Values(
        SignalCase{"TermWhileRead", SIGTERM, ChildProcess::Err::kInherited,
                   true},
        SignalCase{"TermUnread", SIGTERM, ChildProcess::Err::kInherited, false},
        SignalCase{"IntUnread", SIGINT, ChildProcess::Err::kWithOut, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ferrybox
