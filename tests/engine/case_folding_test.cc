// SPDX-License-Identifier: GPL-3.0-or-later
// Backups onto destinations that store names without regard to case.
#include "engine/case_folding.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/support/image_mount.h"
#include "tests/support/run_fixture.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using testing::ImageMount;

struct Destination {
  const char* name;
  enum { kPlain, kSimulated, kImage } kind;
  bool folds;
  ImageMount::Kind image = ImageMount::Kind::kExfat;
  bool unicode = true;  // stores names beyond ASCII
  friend void PrintTo(const Destination& d, std::ostream* os) { *os << d.name; }
};

class ClashTest : public RunFixture {
 protected:
  ~ClashTest() override { run.reset(); }  // before `simulated` goes

  /// The paths refused since the last call, each a case clash, as often as
  /// each was.
  std::multiset<std::string> Clashes() {
    std::multiset<std::string> paths;
    for (const Failure& failure : window.failures) {
      EXPECT_EQ(failure.error, kErrorCaseClash) << failure.path;
      paths.insert(failure.path);
    }
    window.failures.clear();
    return paths;
  }

  testing::CaseFoldingPlatform simulated;
};

class CaseFoldingTest : public ClashTest,
                        public ::testing::WithParamInterface<Destination> {};

TEST_P(CaseFoldingTest, TheFirstInByteOrderOfNamesDifferingInCaseIsKept) {
  const Destination& destination = GetParam();
  std::unique_ptr<ImageMount> mount;
  if (destination.kind == Destination::kImage) {
    std::string why_not;
    mount = ImageMount::Create(destination.image, tree.root(), &why_not);
    if (!mount) GTEST_SKIP() << "cannot mount the image: " << why_not;
    window.text2 = mount->path() + "/backup";
  }
  if (destination.kind == Destination::kSimulated) UsePlatform(simulated);
  const std::string dst = window.text2 + "/";

  // Pairs of names differing only in case: files, folders, folders inside
  // a kept one, and (where the destination can store such names) "Ärger"
  // and "ärger".
  std::vector<std::pair<std::string, std::string>> pairs = {
      {"README", "readme"}, {"Docs/a", "docs/a"}, {"Docs/In/c", "Docs/in/c"}};
  if (destination.unicode)
    pairs.emplace_back("\xc3\x84rger.txt", "\xc3\xa4rger.txt");
  for (const auto& [a, b] : pairs) {
    tree.Write("src/" + a, a);
    tree.Write("src/" + b, b);
  }
  tree.Write("src/docs/b", "docs/b");
  tree.MakeFolder("src/docs/empty");
  tree.Write("src/Photo.JPG", "photo");
  // Alike only in folders of different parents: no clash.
  tree.Write("src/one/Sub/f", "one");
  tree.Write("src/two/sub/g", "two");
  // The kept folder's bits are its own source's, never those of the refused
  // spelling, which opens the same folder where case is ignored.
  std::filesystem::permissions(Src("Docs"), std::filesystem::perms::owner_all);
  Go();

  // The first of each pair in byte order keeps its name, a folder's with
  // everything in it.
  std::vector<std::string> kept;
  std::multiset<std::string> refused;
  for (const auto& [a, b] : pairs) {
    kept.push_back(a);
    refused.insert(dst + b);
  }
  refused.insert({dst + "docs/b", dst + "docs/empty"});
  if (!destination.folds) refused.clear();
  EXPECT_EQ(Clashes(), refused);

  std::filesystem::rename(Src("Photo.JPG"), Src("photo.jpg"));
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    simulated.reverse_listing = run == 0;  // the stored name stays first
    Go(true);
    EXPECT_EQ(Clashes(), refused);  // every run, never copied over
    for (const std::string& name : kept)
      EXPECT_EQ(testing::ReadFile(dst + name), name);
    EXPECT_EQ(testing::ReadFile(dst + "two/sub/g"), "two");
    // Renaming a file's case only still renames its copy.
    EXPECT_EQ(testing::Entries(dst).count("photo.jpg"), 1u);
    EXPECT_EQ(testing::Entries(dst).count("Photo.JPG"),
              destination.folds ? 0u : 1u);
  }
  // One name of each pair where case is ignored, both where it is kept;
  // the photo's copy, with its earlier name beside it where case is kept;
  // "one" and "two".
  if (destination.kind != Destination::kImage) {
    EXPECT_EQ(std::filesystem::status(dst + "Docs").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
  }
  const size_t pairs_stored = destination.unicode ? 3 : 2;
  EXPECT_EQ(testing::Entries(dst).size(),
            destination.folds ? pairs_stored + 3 : 2 * pairs_stored + 4);
}

INSTANTIATE_TEST_SUITE_P(
    Destinations, CaseFoldingTest,
    ::testing::Values(Destination{"KeepsCase", Destination::kPlain, false},
                      Destination{"Simulated", Destination::kSimulated, true},
                      Destination{"exFAT", Destination::kImage, true,
                                  ImageMount::Kind::kExfat},
                      // fusefat stores no names beyond ASCII.
                      Destination{"FAT32", Destination::kImage, true,
                                  ImageMount::Kind::kFat32, false}),
    ::testing::PrintToStringParamName());

// ext4 and f2fs fold case only in folders with the casefold attribute.
TEST_F(ClashTest, AFoldingFolderOnADeviceThatKeepsCaseKeepsTheStoredName) {
  UsePlatform(simulated);
  for (const char* folder : {"fold", "plain"}) {
    tree.Write("src/" + std::string(folder) + "/readme", "lower");
    tree.Write("src/" + std::string(folder) + "/README", "upper");
  }
  // Folding folders below folders differing only in case where case is
  // kept: both are copied.
  for (const char* folder : {"fold", "Up/fold", "up/fold"}) {
    tree.MakeFolder("dst/" + std::string(folder));
    simulated.FoldIn(Dst(folder));
  }
  tree.Write("src/Up/fold/x", "Up");
  tree.Write("src/up/fold/x", "up");
  Go();
  EXPECT_EQ(Clashes(), std::multiset<std::string>{Dst("fold/readme")});
  EXPECT_EQ(testing::ReadFile(Dst("fold/README")), "upper");
  EXPECT_EQ(testing::ReadFile(Dst("plain/readme")), "lower");
  EXPECT_EQ(testing::ReadFile(Dst("plain/README")), "upper");
  EXPECT_EQ(testing::ReadFile(Dst("Up/fold/x")), "Up");
  EXPECT_EQ(testing::ReadFile(Dst("up/fold/x")), "up");

  // Whichever way the folder lists them, the stored copy stays untouched.
  const int64_t stored = testing::MtimeNs(Dst("fold/README"));
  for (bool reverse : {true, false}) {
    simulated.reverse_listing = reverse;
    Go(true);
    EXPECT_EQ(Clashes(), std::multiset<std::string>{Dst("fold/readme")});
    EXPECT_EQ(testing::ReadFile(Dst("fold/README")), "upper");
    EXPECT_EQ(testing::MtimeNs(Dst("fold/README")), stored);
  }

  // A spelling stored earlier keeps its place, updated from its own file.
  std::filesystem::remove(Dst("fold/README"));
  tree.Write("dst/fold/readme", "earlier");
  for (bool reverse : {false, true}) {
    simulated.reverse_listing = reverse;
    Go(true);
    EXPECT_EQ(Clashes(), std::multiset<std::string>{Dst("fold/README")});
    EXPECT_EQ(testing::ReadFile(Dst("fold/readme")), "lower");
    EXPECT_FALSE(testing::Exists(Dst("fold/README")));
  }
}

TEST(FoldCaseTest, FoldsLettersOfAnyScriptAndLeavesOtherBytes) {
  EXPECT_EQ(FoldCase("ReadMe-1.txt"), "README-1.TXT");
  EXPECT_EQ(FoldCase("\xc3\xa4\xce\xb1\xd0\xb4"),   // äαд
            "\xc3\x84\xce\x91\xd0\x94");            // ÄΑД
  EXPECT_EQ(FoldCase("a\xff\xc3z"), "A\xff\xc3Z");  // not UTF-8
}

}  // namespace
}  // namespace ferrybox
