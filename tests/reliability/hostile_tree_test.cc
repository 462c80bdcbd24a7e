// Source trees built to trip a backup: special files, links that loop or
// lead nowhere, names no one would type, and a tree deeper than any path
// the system accepts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

#include "tests/reliability/scenario_fixture.h"

namespace ferrybox {
namespace {

using Kind = FaultyPlatform::Kind;
using testing::Exists;
using testing::ReadFile;

using HostileTree = ScenarioTest;
using DeepTree = ScenarioTest;

bool OpenedAny(const FaultyPlatform& faults, const std::string& name) {
  return std::count(faults.opened().begin(), faults.opened().end(), name) > 0;
}

bool MakeSocket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  path.copy(address.sun_path, path.size());
  const bool bound = bind(fd, reinterpret_cast<struct sockaddr*>(&address),
                          sizeof address) == 0;
  close(fd);
  return bound;
}

TEST_F(HostileTree, FifosAndSocketsAreNeverOpenedNorCopied) {
  for (const bool hide_types : {false, true}) {
    SCOPED_TRACE(hide_types ? "untyped listings" : "typed listings");
    UseCase(hide_types ? "untyped" : "typed");
    faults.hide_entry_types = hide_types;
    WriteSrc("plain.txt", "plain");
    WriteSrc("sub/inner.txt", "inner");
    ASSERT_EQ(mkfifo(Src("pipe").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo(Src("sub/pipe2").c_str(), 0644), 0);
    ASSERT_TRUE(MakeSocket(Src("sub/socket")));
    // The copy of a file a FIFO stands in for must neither hang nor be
    // made.
    Go();
    ExpectClosingLine();
    ExpectFailures({});
    for (const char* name : {"pipe", "pipe2", "socket"})
      EXPECT_FALSE(OpenedAny(faults, name)) << name;
    EXPECT_FALSE(Exists(Dst("pipe")));
    EXPECT_FALSE(Exists(Dst("sub/socket")));
    ExpectComplete();
    ExpectIncrementalRunCompletes();
  }
}

TEST_F(HostileTree, DeviceNodesAreNeverOpenedNorCopied) {
  WriteSrc("plain.txt", "plain");
  // The character device of /dev/null: opening it would be harmless here,
  // but a tape drive rewinds when opened.
  if (mknod(Src("device").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
    GTEST_SKIP() << "making a device node needs CAP_MKNOD";
  Go();
  ExpectClosingLine();
  ExpectFailures({});
  EXPECT_FALSE(OpenedAny(faults, "device"));
  EXPECT_FALSE(Exists(Dst("device")));
  ExpectIncrementalRunCompletes();
}

TEST_F(HostileTree, LinksThatLoopOrLeadNowhereAreLeftOut) {
  WriteSrc("a.txt", "alpha");
  WriteSrc("sub/b.txt", "beta");
  tree.Write("elsewhere/secret.txt", "not part of the source");
  ASSERT_EQ(symlink("..", Src("sub/up").c_str()), 0);
  ASSERT_EQ(symlink(".", Src("sub/self").c_str()), 0);
  ASSERT_EQ(symlink("missing", Src("dangling").c_str()), 0);
  ASSERT_EQ(symlink("loop2", Src("loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", Src("loop2").c_str()), 0);
  ASSERT_EQ(symlink("a.txt/below", Src("through_a_file").c_str()), 0);
  ASSERT_EQ(symlink(tree.Path("elsewhere").c_str(), Src("outside").c_str()), 0);
  // Links to files are copied as the files they lead to.
  ASSERT_EQ(symlink("sub/b.txt", Src("to_file").c_str()), 0);
  ASSERT_EQ(symlink("to_file", Src("to_link").c_str()), 0);
  Go();
  ExpectClosingLine();
  ExpectFailures({});
  const Snapshot dst = TakeSnapshot(Dst(""));
  std::vector<std::string> paths;
  for (const auto& [path, entry] : dst) paths.push_back(path);
  EXPECT_EQ(paths, (std::vector<std::string>{"a.txt", "sub", "sub/b.txt",
                                             "to_file", "to_link"}));
  EXPECT_EQ(dst.at("to_link").type, SnapshotEntry::kFile);
  EXPECT_EQ(dst.at("to_link").content, "beta");
  ExpectIncrementalRunCompletes();
}

TEST_F(HostileTree, OddNamesAreCopiedAndAFailedOneStaysOneLineInTheLog) {
  const std::vector<std::string> names = {"new\nline",
                                          "\r\nbreaks",
                                          "\xff\xfe not UTF-8",
                                          "-rf",
                                          "--help",
                                          std::string(255, 'n'),
                                          " leading space",
                                          "trailing space ",
                                          "back\\slash",
                                          "tab\there",
                                          "...",
                                          "\x1b[31mred"};
  for (const std::string& name : names) WriteSrc("odd/" + name, name);
  WriteSrc("-folder\n/inside", "inside");
  Go();
  ExpectClosingLine();
  ExpectFailures({});
  ExpectComplete();

  // Copies that fail, of files with a line break, a terminal escape and a
  // tab in their names: one plain line each in the copy log.
  const std::vector<std::string> failing = {"new\nline", "\x1b[31mred",
                                            "tab\there"};
  for (const std::string& name : failing) {
    WriteSrc("odd/" + name, "changed");
    testing::SetMtimeNs(Src("odd/" + name),
                        testing::MtimeNs(Src("odd/" + name)) + 1000000000);
    faults.FailNth(Kind::kRename, 1, EIO, name);
  }
  const Snapshot before = TakeSnapshot(Dst(""));
  Go(true);
  ExpectClosingLine();
  std::vector<std::string> shown = Failures();
  std::sort(shown.begin(), shown.end());
  std::vector<std::string> expected;
  for (const std::string& name : failing)
    expected.push_back(kCopyErrorPrefix + Dst("odd/" + name));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(shown, expected);
  std::vector<std::string> logged = CopyLogLines(CopyLog());
  std::sort(logged.begin(), logged.end());
  EXPECT_EQ(logged, (std::vector<std::string>{
                        kCopyErrorPrefix + Dst("odd/\\x1b[31mred"),
                        kCopyErrorPrefix + Dst("odd/new\\x0aline"),
                        kCopyErrorPrefix + Dst("odd/tab\there")}));
  ExpectNoDamage(before);
  ExpectIncrementalRunCompletes();
}

TEST_F(HostileTree, FilesNamedLikeUnfinishedCopiesAreNeverBackedUp) {
  // A partial copy left in a tree that is itself being backed up (say, a
  // disk that holds an older backup) is not worth a copy; a user's file
  // that merely looks alike is.
  const std::string partial = ".~ferrybox-0123456789abcdef-7.part";
  WriteSrc(partial, "half a file");
  WriteSrc("sub/" + partial, "half of another");
  WriteSrc("sub/.~ferrybox-notes.part", "a user's notes");
  WriteSrc("sub/.~ferrybox-0123456789abcdef-.part", "no number");
  Go();
  Go(true);
  ExpectClosingLine();
  EXPECT_EQ(Figure(FigureBox::kText4), "0") << "something copied again";
  EXPECT_FALSE(Exists(Dst(partial)));
  EXPECT_FALSE(Exists(Dst("sub/" + partial)));
  EXPECT_EQ(ReadFile(Dst("sub/.~ferrybox-notes.part")), "a user's notes");
  EXPECT_EQ(ReadFile(Dst("sub/.~ferrybox-0123456789abcdef-.part")),
            "no number");
}

// 300 levels of this name and a separator make 6300 bytes.
constexpr char kLevel[] = "deep-folder-level-20";

// The path of the folder at `level` (from 0) of a chain of kLevel folders.
std::string DeepFolder(int level) {
  std::string path;
  for (int i = 0; i <= level; ++i) path += std::string(i ? "/" : "") + kLevel;
  return path;
}

// Writes `name` in the folder DeepFolder(`level`) below `root` (made when
// missing), level by level, and moves its time a second on.
bool WriteDeep(const std::string& root, int level, const std::string& name,
               const std::string& content) {
  int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  size_t start = 0;
  const std::string path = DeepFolder(level) + "/" + name;
  for (size_t cut;
       dir >= 0 && (cut = path.find('/', start)) != std::string::npos;
       start = cut + 1) {
    const std::string part = path.substr(start, cut - start);
    mkdirat(dir, part.c_str(), 0755);
    const int next = openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY);
    close(dir);
    dir = next;
  }
  if (dir < 0) return false;
  const int file = openat(dir, path.substr(start).c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC, 0644);
  close(dir);
  if (file < 0) return false;
  bool ok = write(file, content.data(), content.size()) ==
            static_cast<ssize_t>(content.size());
  struct stat st;
  ok = ok && fstat(file, &st) == 0;
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  times[1].tv_sec += 1;
  ok = ok && futimens(file, times) == 0;
  close(file);
  return ok;
}

TEST_F(DeepTree, ThreeHundredLevelsBeyondThePathLimitAreCopiedAndRepaired) {
  ASSERT_TRUE(testing::MakeDeepChain(Src(""), 300, kLevel, "file"));
  ASSERT_GT(Dst(DeepFolder(299)).size(), 4096u);
  Go();
  ExpectClosingLine();
  ExpectFailures({});
  ExpectComplete();

  // Two files change, a new folder appears far down; the changed file at
  // level 150 cannot be read and the new folder cannot be made.
  ASSERT_TRUE(WriteDeep(Src(""), 150, "file", "changed 150"));
  ASSERT_TRUE(WriteDeep(Src(""), 299, "file", "changed 299"));
  ASSERT_TRUE(WriteDeep(Src(""), 250, "new/f", "new"));
  const Snapshot before = TakeSnapshot(Dst(""));
  faults.FailNth(Kind::kRead, 151, EIO, "file");  // files go level by level
  faults.FailNth(Kind::kMkdir, 1, EIO, "new");
  Go();
  ExpectClosingLine();
  ExpectFailures({DeepFolder(150) + "/file", DeepFolder(250) + "/new/f"});
  ExpectNoDamage(before);
  EXPECT_EQ(testing::ReadDeepChain(Dst(""), 299, kLevel, "file"),
            "changed 299");
  ExpectIncrementalRunCompletes();
}

}  // namespace
}  // namespace ferrybox
