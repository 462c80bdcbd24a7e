#include "engine/folder_scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::FaultyPlatform;
using testing::TempTree;

std::vector<std::string> Scan(const std::string& folder,
                              const ScanOptions& options = {}) {
  std::vector<std::string> files;
  std::string strFolder = folder;
  RecursiveDir(DefaultPlatform(), files, strFolder, options);
  return files;
}

std::set<std::string> AsSet(const std::vector<std::string>& files) {
  return {files.begin(), files.end()};
}

// Position of the first and one past the last path starting with `prefix`;
// the block must hold every such path without gaps.
void ExpectContiguous(const std::vector<std::string>& files,
                      const std::string& prefix) {
  auto starts = [&](const std::string& path) {
    return path.starts_with(prefix);
  };
  auto first = std::find_if(files.begin(), files.end(), starts);
  ASSERT_NE(first, files.end()) << prefix;
  auto end = std::find_if_not(first, files.end(), starts);
  EXPECT_EQ(std::count_if(end, files.end(), starts), 0)
      << prefix << " is split";
}

TEST(RecursiveDirOrder, RootFilesFirstThenEachSubfolderWholeTree) {
  TempTree tree;
  for (const char* name : {"r1", "r2", "r3"}) tree.Write(name, "x");
  for (const char* name : {"a/f1", "a/f2", "a/deep/g1", "a/deep/g2",
                           "a/deep/deeper/h", "b/f3", "b/deep/g3", "c/f4"})
    tree.Write(name, "x");
  tree.MakeFolder("empty");
  tree.MakeFolder("only_folders/x/y");
  tree.Write("only_folders/x/y/z", "x");

  const std::vector<std::string> files = Scan(tree.root());
  ASSERT_EQ(files.size(), 12u);
  const std::string root = tree.root() + "/";
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(files[i].find('/', root.size()), std::string::npos)
        << "root files come first: " << files[i];
  for (const char* folder : {"a/", "a/deep/", "b/", "c/", "only_folders/"})
    ExpectContiguous(files, root + folder);
  // A folder's own files come before its subfolders' files.
  auto index_of = [&](const std::string& relative) {
    return std::find(files.begin(), files.end(), root + relative) -
           files.begin();
  };
  EXPECT_LT(index_of("a/f1"), index_of("a/deep/g1"));
  EXPECT_LT(index_of("a/f2"), index_of("a/deep/g1"));
  EXPECT_LT(index_of("a/deep/g2"), index_of("a/deep/deeper/h"));
  EXPECT_EQ(AsSet(files).count(root + "only_folders/x/y/z"), 1u);
}

TEST(RecursiveDirOrder, DotNamesAreOrdinaryFilesAndFolders) {
  TempTree tree;
  tree.Write(".hidden", "x");
  tree.Write(".config/.inner", "x");
  tree.Write("..double", "x");
  EXPECT_EQ(
      AsSet(Scan(tree.root())),
      (std::set<std::string>{tree.Path(".hidden"), tree.Path(".config/.inner"),
                             tree.Path("..double")}));
}

TEST(RecursiveDirRoots, WithOrWithoutTrailingSlashGiveTheSamePaths) {
  TempTree tree;
  tree.Write("a.txt", "x");
  tree.Write("sub/b.txt", "x");
  std::vector<std::string> plain, slashed;
  std::string folder = tree.root();
  RecursiveDir(DefaultPlatform(), plain, folder);
  EXPECT_EQ(folder, tree.root() + "/");
  folder = tree.root() + "/";
  RecursiveDir(DefaultPlatform(), slashed, folder);
  EXPECT_EQ(folder, tree.root() + "/");
  EXPECT_EQ(plain, slashed);
  EXPECT_EQ(AsSet(plain), (std::set<std::string>{tree.Path("a.txt"),
                                                 tree.Path("sub/b.txt")}));
}

TEST(RecursiveDirRoots, MissingOrEmptyRootAddsNothing) {
  TempTree tree;
  tree.MakeFolder("empty");
  EXPECT_TRUE(Scan(tree.Path("empty")).empty());
  int reports = 0;
  ScanOptions options;
  options.on_error = [&](const std::string&, int) { ++reports; };
  EXPECT_TRUE(Scan(tree.Path("missing"), options).empty());
  EXPECT_EQ(reports, 0);
}

TEST(RecursiveDirEntries, OnlyRegularFilesAndLinksToThemAreCollected) {
  TempTree tree;
  tree.Write("plain", "x");
  tree.Write("sub/inner", "x");
  ASSERT_EQ(mkfifo(tree.Path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink("plain", tree.Path("link_to_file").c_str()), 0);
  ASSERT_EQ(symlink("sub", tree.Path("link_to_folder").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", tree.Path("dangling").c_str()), 0);
  ASSERT_EQ(symlink("fifo", tree.Path("link_to_fifo").c_str()), 0);

  EXPECT_EQ(AsSet(Scan(tree.root())),
            (std::set<std::string>{tree.Path("plain"), tree.Path("sub/inner"),
                                   tree.Path("link_to_file")}));
}

TEST(RecursiveDirEntries, ALinkBackToTheParentNeverLoops) {
  TempTree tree;
  tree.Write("sub/a", "x");
  ASSERT_EQ(symlink("..", tree.Path("sub/up").c_str()), 0);
  ASSERT_EQ(symlink(".", tree.Path("sub/self").c_str()), 0);
  EXPECT_EQ(Scan(tree.root()), std::vector<std::string>{tree.Path("sub/a")});
}

TEST(RecursiveDirEntries, NamesAreBytes) {
  TempTree tree;
  const std::vector<std::string> names = {"with space", "new\nline",
                                          "-leading-dash", "\xff\xfe not utf-8",
                                          std::string(255, 'n')};
  for (const std::string& name : names) tree.Write("sub/" + name, name);
  std::set<std::string> expected;
  for (const std::string& name : names)
    expected.insert(tree.Path("sub/" + name));
  EXPECT_EQ(AsSet(Scan(tree.root())), expected);
}

TEST(RecursiveDirEntries, ATreeDeeperThanThePathLimitIsWalkedToTheBottom) {
  TempTree tree;
  const std::string level_name(40, 'd');
  ASSERT_TRUE(testing::MakeDeepChain(tree.root(), 300, level_name, "f"));
  const std::vector<std::string> files = Scan(tree.root());
  ASSERT_EQ(files.size(), 300u);
  EXPECT_GT(files.back().size(), 300u * 41);
  EXPECT_TRUE(files.back().ends_with("/" + level_name + "/f"));
}

TEST(RecursiveDirOptions, TheSkippedFolderIsNeverEntered) {
  TempTree tree;
  tree.Write("a.txt", "x");
  tree.Write("backup/old.txt", "x");
  tree.Write("other/b.txt", "x");
  struct stat st;
  ASSERT_EQ(stat(tree.Path("backup").c_str(), &st), 0);
  ScanOptions options;
  options.skip_folder = FileId{st.st_dev, st.st_ino};
  options.has_skip_folder = true;
  EXPECT_EQ(
      AsSet(Scan(tree.root(), options)),
      (std::set<std::string>{tree.Path("a.txt"), tree.Path("other/b.txt")}));
}

TEST(RecursiveDirOptions, AnUnreadableFolderIsReportedAndTheWalkGoesOn) {
  TempTree tree;
  tree.Write("a.txt", "x");
  tree.Write("locked/secret", "x");
  tree.Write("open/b.txt", "x");
  FaultyPlatform platform;
  platform.fail_kind = FaultyPlatform::Kind::kList;
  platform.fail_name = "locked";
  platform.fail_error = EACCES;
  std::vector<std::pair<std::string, int>> reports;
  ScanOptions options;
  options.on_error = [&](const std::string& folder, int error) {
    reports.emplace_back(folder, error);
  };
  std::vector<std::string> files;
  std::string folder = tree.root();
  RecursiveDir(platform, files, folder, options);
  EXPECT_EQ(AsSet(files), (std::set<std::string>{tree.Path("a.txt"),
                                                 tree.Path("open/b.txt")}));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].first, tree.Path("locked"));
  EXPECT_EQ(reports[0].second, EACCES);
  EXPECT_EQ(platform.open_handles(), 0u);
}

TEST(PathRoutines, TrailingSlashAndLastslash) {
  EXPECT_EQ(TrailingSlash(""), "");
  EXPECT_EQ(TrailingSlash("/home/a"), "/home/a/");
  EXPECT_EQ(TrailingSlash("/home/a/"), "/home/a/");
  EXPECT_EQ(TrailingSlash("/"), "/");
  EXPECT_EQ(lastslash("/a/b.txt"), 3);
  EXPECT_EQ(lastslash("b.txt"), 0);
  EXPECT_EQ(lastslash("/"), 1);
  EXPECT_EQ(lastslash("/home/"), 6);
}

TEST(FileExistsTest, TrueOnlyForAReadableFile) {
  TempTree tree;
  const std::string file = tree.Write("config.txt", "x");
  tree.MakeFolder("folder");
  ASSERT_EQ(symlink("config.txt", tree.Path("link").c_str()), 0);
  EXPECT_TRUE(FileExists(DefaultPlatform(), file));
  EXPECT_TRUE(FileExists(DefaultPlatform(), tree.Path("link")));
  EXPECT_FALSE(FileExists(DefaultPlatform(), tree.Path("missing.txt")));
  EXPECT_FALSE(FileExists(DefaultPlatform(), tree.Path("folder")));
  EXPECT_FALSE(FileExists(DefaultPlatform(), ""));
}

TEST(ListFilesP, NamesContainingTheExtensionExactly) {
  TempTree tree;
  for (const char* name :
       {"work.prf", "old.prf.bak", ".hidden.prf", "WORK.PRF", "notes.txt"})
    tree.Write(std::string("profiles/") + name, "x");
  tree.MakeFolder("profiles/folder.prf");
  std::vector<std::string> names =
      ListFiles_p(DefaultPlatform(), tree.Path("profiles/"), ".prf");
  EXPECT_EQ(AsSet(names),
            (std::set<std::string>{"work.prf", "old.prf.bak", ".hidden.prf"}));
  EXPECT_TRUE(
      ListFiles_p(DefaultPlatform(), tree.Path("missing/"), ".prf").empty());
}

}  // namespace
}  // namespace ferrybox
