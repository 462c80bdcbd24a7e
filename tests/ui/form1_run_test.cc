// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <set>

#include "tests/support/temp_tree.h"
#include "tests/ui/form1_fixture.h"

namespace ferrybox {
namespace {

class Form1Run : public Form1Fixture {
 protected:
  void GoWith(int files) {
    SetFolders(tree_.Path("src"), tree_.Path("dst"));
    for (int i = 0; i < files; ++i)
      tree_.Write("src/sub/f" + std::to_string(i), std::string(1000, 'x'));
    Go();
  }

  testing::TempTree tree_;
};

TEST_F(Form1Run, GoBacksUpATreeAndShowsFiguresAndLists) {
  tree_.Write("src/a.txt", std::string(1500, 'a'));
  GoWith(1);
  EXPECT_EQ(testing::ReadFile(tree_.Path("dst/sub/f0")),
            std::string(1000, 'x'));
  EXPECT_EQ(Edit("Text4")->text(), "2");
  EXPECT_EQ(Edit("Text5")->text(), "0Mb");
  EXPECT_TRUE(Edit("Text6")->text().endsWith("Mb per Sec"));
  EXPECT_EQ(Shown("List1"),
            (std::vector<std::string>{tree_.Path("src/a.txt"),
                                      tree_.Path("src/sub/f0")}));
  EXPECT_EQ(Lines("List2")->Count(), 6);
  EXPECT_EQ(LastLine("List2"),
            "New File, Copying: " + tree_.Path("dst/sub/f0"));
  EXPECT_TRUE(Lines("List3")->Line(2).startsWith("Finished....in :"));
}

TEST_F(Form1Run, ARefusedRunMakesNothing) {
  // Relative names would resolve here, where "src" is a folder to copy.
  testing::TempTree work;
  work.Write("src/a", "x");
  const auto earlier = std::filesystem::current_path();
  std::filesystem::current_path(work.root());
  tree_.Write("src/a", "x");
  tree_.Write("dst/s/f", "original");
  tree_.Write("dst/s/x/g", "original");
  std::filesystem::create_directory_symlink(tree_.Path("dst"),
                                            tree_.Path("link"));
  const std::string src = tree_.Path("src"), dst = tree_.Path("dst");
  const std::string made = tree_.Path("made");
  // The box's text reaches the run as typed, the leading space too; a source
  // inside the destination is found through "..", a trailing "/" and links.
  const std::vector<std::vector<std::string>> cases = {
      {src, "dst", kDestinationNotFullPath},
      {" " + src, made, kSourceNotFullPath},
      {dst + "/s", dst, kSourceInsideDestination},
      {dst + "/s/x/..", dst + "/", kSourceInsideDestination},
      {tree_.Path("link/s/x"), dst, kSourceInsideDestination},
      {dst + "/s", tree_.Path("link"), kSourceInsideDestination}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0] + "|" + c[1]);
    SetFolders(c[0], c[1]);
    Go();
    EXPECT_EQ(LastLine("List3", 1), c[2]);
    EXPECT_TRUE(LastLine("List3", 0).starts_with("Finished....in :"));
  }
  std::filesystem::current_path(earlier);
  EXPECT_FALSE(testing::Exists(made));
  EXPECT_EQ(testing::Entries(work.root()), std::set<std::string>{"src"});
  EXPECT_EQ(testing::ReadFile(tree_.Path("dst/s/f")), "original");
  for (const char* stray : {"dst/a", "dst/s/s", "dst/x", "dst/f"})
    EXPECT_FALSE(testing::Exists(tree_.Path(stray))) << stray;
}

TEST_F(Form1Run, ClosingTheWindowDuringARunAbandonsItAndEndsTheProgram) {
  // Acts at the first events the copying handles: List1 shows its files.
  QTimer during;
  during.callOnTimeout(&form(), [&] {
    if (Lines("List1")->Count() == 0) return;
    during.stop();
    QTest::mouseClick(Button("Command11"), Qt::LeftButton);  // paused too
    EXPECT_EQ(Button("Command11")->text(), "Resume Copying");
    form().close();
  });
  during.start(0);
  GoWith(300);
  // At file 101 at the latest; earlier on a machine slow enough to take a
  // quarter second before it.
  const int handled = Edit("Text3")->text().toInt();
  EXPECT_GE(handled, 1);
  EXPECT_LE(handled, 101);
  EXPECT_FALSE(LastLine("List3").starts_with("Fin"));
  // The program was told to end: an event loop started now ends at once...
  QEventLoop loop;
  QTimer::singleShot(2000, &loop, [&] { loop.exit(1); });
  EXPECT_EQ(loop.exec(), -1);
  // ...until the application's own loop runs again, as later tests need.
  QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  QCoreApplication::exec();
}

}  // namespace
}  // namespace ferrybox
