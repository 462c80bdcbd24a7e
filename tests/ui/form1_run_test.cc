#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "tests/support/temp_tree.h"
#include "tests/ui/form1_fixture.h"

namespace ferrybox {
namespace {

class Form1Run : public Form1Fixture {
 protected:
  void SetUp() override {
    Form1Fixture::SetUp();
    Edit("Text1")->setText(QString::fromStdString(tree_.Path("src")));
    Edit("Text2")->setText(QString::fromStdString(tree_.Path("dst")));
  }

  void MakeFiles(int count) {
    for (int i = 0; i < count; ++i)
      tree_.Write("src/sub/f" + std::to_string(i), std::string(1000, 'x'));
  }
  void ClickGo() {
    QTest::mouseClick(Button("Command3"), Qt::LeftButton);
    form().FlushDisplay();
  }
  QString Line(const char* list, int index) { return Lines(list)->Line(index); }

  testing::TempTree tree_;
};

TEST_F(Form1Run, GoBacksUpATreeAndShowsFiguresAndLists) {
  tree_.Write("src/a.txt", std::string(1500, 'a'));
  tree_.Write("src/sub/b.txt", std::string(600, 'b'));
  ClickGo();

  EXPECT_EQ(testing::ReadFile(tree_.Path("dst/a.txt")), std::string(1500, 'a'));
  EXPECT_EQ(testing::ReadFile(tree_.Path("dst/sub/b.txt")),
            std::string(600, 'b'));
  EXPECT_EQ(Edit("Text3")->text(), "2");
  EXPECT_EQ(Edit("Text4")->text(), "2");
  EXPECT_EQ(Edit("Text5")->text(), "0Mb");
  EXPECT_TRUE(Edit("Text6")->text().endsWith("Mb per Sec"));
  ASSERT_EQ(Lines("List1")->Count(), 2);
  EXPECT_EQ(Line("List1", 0).toStdString(), tree_.Path("src/a.txt"));
  ASSERT_EQ(Lines("List2")->Count(), 6);
  EXPECT_EQ(Line("List2", 0).toStdString(),
            "checking directory exists=" + tree_.Path("dst"));
  EXPECT_EQ(Line("List2", 5).toStdString(),
            "New File, Copying: " + tree_.Path("dst/sub/b.txt"));
  ASSERT_EQ(Lines("List3")->Count(), 3);
  EXPECT_TRUE(Line("List3", 0).startsWith("Starting copy: "));
  EXPECT_EQ(Line("List3", 1), "Please wait...");
  EXPECT_TRUE(Line("List3", 2).startsWith("Finished....in :"));
  EXPECT_TRUE(Line("List3", 2).endsWith(" seconds"));
  EXPECT_EQ(form().run().LastOutcome().failed_copies, 0);
}

TEST_F(Form1Run, StopClickedDuringARunIsSeenAtTheFirstUpdate) {
  MakeFiles(300);
  Check("Check1")->setChecked(false);
  Check("Check2")->setChecked(false);
  QTimer::singleShot(0, &form(), [this] {
    QTest::mouseClick(Button("Command2"), Qt::LeftButton);
  });
  ClickGo();
  EXPECT_EQ(Edit("Text3")->text(), "101");
  EXPECT_EQ(Lines("List1")->Count(), 0);
  EXPECT_TRUE(form().run().LastOutcome().stopped);
}

TEST_F(Form1Run, PauseCaptionOffersToResumeAndBack) {
  QPushButton* pause = Button("Command11");
  QTest::mouseClick(pause, Qt::LeftButton);
  EXPECT_EQ(pause->text(), "Resume Copying");
  EXPECT_TRUE(form().run().PauseFlag());
  QTest::mouseClick(pause, Qt::LeftButton);
  EXPECT_EQ(pause->text(), "Pause Copying");
  EXPECT_FALSE(form().run().PauseFlag());
}

TEST_F(Form1Run, ClosingTheWindowDuringARunAbandonsIt) {
  MakeFiles(300);
  QTimer::singleShot(0, &form(), [this] {
    QTest::mouseClick(Button("Command11"), Qt::LeftButton);  // paused too
    form().close();
  });
  ClickGo();
  EXPECT_EQ(Edit("Text3")->text(), "101");
  for (int i = 0; i < Lines("List3")->Count(); ++i)
    EXPECT_FALSE(Line("List3", i).startsWith("Finished....in :"));
}

}  // namespace
}  // namespace ferrybox
