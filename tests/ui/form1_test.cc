// SPDX-License-Identifier: GPL-3.0-or-later
// Form1 as it opens, its buttons under Enter, and the runs "Go" starts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <set>

#include "tests/support/temp_tree.h"
#include "tests/ui/form1_fixture.h"
#include "tests/ui/scripted_dialogs.h"
#include "ui/form9.h"

namespace ferrybox {
namespace {

TEST_F(Form1Fixture, OpensWithItsWholeTextsZeroFiguresEmptyListsAndTabOrder) {
  // clang-format off
  const std::pair<const char*, const char*> texts[] = {
      {"Frame1", "Copy Files From:"}, {"Frame6", "Choose Profile, Click to load:"},
      {"Command11", "Pause Copying"}, {"Label5", "Hint: Show files = slower copying"},
      {"Text3", "0"}, {"Text4", "0"}, {"Text5", "0"}, {"Text6", "0"}};
  // clang-format on
  for (const auto& [name, text] : texts) {
    const QWidget* control = Child<QWidget>(name);
    const QVariant title = control->property("title");  // frames only
    EXPECT_EQ((title.isValid() ? title : control->property("text")).toString(),
              text)
        << name;
  }
  EXPECT_EQ(Lines("List1")->Count() + Lines("List2")->Count() +
                Lines("List3")->Count() + Child<QListWidget>("List4")->count(),
            0);
  EXPECT_TRUE(Check("Check1")->isChecked() && Check("Check2")->isChecked() &&
              !Check("Check3")->isChecked());
  EXPECT_EQ(Edit("Text1")->toolTip(),
            "Directory to be backed up and made a copy from. This directory "
            "MUST already exist!");
  EXPECT_EQ(Edit("Text2")->toolTip(),
            "Directory where the backed up files should be stored. This "
            "directory MUST already exist!");
  // Frame-relative positions, in pixels of 15 twips.
  EXPECT_EQ(form().size(), QSize(1021, 682));
  EXPECT_EQ(Child<QWidget>("Frame4")->geometry(), QRect(764, 0, 253, 265));
  EXPECT_EQ(Edit("Text1")->geometry(), QRect(84, 16, 665, 19));
  EXPECT_EQ(Child<QTimer>("Timer3")->interval(), 1000);
  EXPECT_TRUE(Child<QTimer>("Timer3")->isActive());
  // Every label shows its whole caption.
  for (const QLabel* label : form().findChildren<QLabel*>())
    EXPECT_LE(label->fontMetrics().boundingRect(label->text()).width(),
              label->contentsRect().width())
        << label->objectName().toStdString();

  std::string order;
  QWidget* widget = Child<QWidget>("List1");
  for (int i = 0; i < 23; ++i, widget = widget->nextInFocusChain()) {
    // Skip containers and the inner parts of compound controls.
    while (widget->focusPolicy() == Qt::NoFocus ||
           widget->objectName().isEmpty())
      widget = widget->nextInFocusChain();
    order += widget->objectName().toStdString() + " ";
  }
  EXPECT_EQ(order,
            "List1 List2 Command4 Text1 Command5 Text2 Check1 Check2 List3 "
            "Command10 List4 Text7 OptionsButton Command6 Command3 Command2 "
            "Command11 Text6 "
            "Text5 Text4 Text3 Check3 List1 ");
}

TEST_F(Form1Fixture, LinesAndFiguresShowOnceTheEventLoopRuns) {
  form().show();
  for (int i = 0; i < 200; ++i)
    Form1Seams::Lists(form()).lp3("line " + std::to_string(i));
  form().SetFigure(FigureBox::kText5, "12Mb");
  QApplication::processEvents();
  EXPECT_EQ(Edit("Text5")->text(), "12Mb");
  LineList* list3 = Lines("List3");
  ASSERT_EQ(list3->Count(), 200);
  // The newest line is the last one in view.
  EXPECT_EQ(list3->TopIndex() + list3->VisibleRows(), 200);
}

TEST_F(Form1Fixture, EnterAndKeypadEnterClickAButtonOnceEvenWhenHeld) {
  ScriptedDialogs dialogs;
  Form1Seams::SetDialogs(form(), &dialogs);
  Form1Seams::SetEndProgram(form(), [] {});
  Edit("Text1")->clear();  // "Go" is then refused at once
  for (const char* name : {"Command2", "Command3", "Command4", "Command5",
                           "Command6", "Command10", "Command11"}) {
    QPushButton* button = Button(name);
    QSignalSpy clicks(button, &QPushButton::clicked);
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r",
                   /*autorep=*/true);
    QApplication::sendEvent(button, &held);
    EXPECT_EQ(clicks.count(), 2) << name;
  }
  Form9 notice(form());
  QSignalSpy answers(&notice, &Form9::AnswerGiven);
  QTest::keyClick(notice.findChild<QPushButton*>("Command2"), Qt::Key_Enter,
                  Qt::KeypadModifier);
  EXPECT_EQ(answers.count(), 1);
}

// On a screen with less room than the window, the window fits it and every
// control scrolls into reach, in its place; with room, nothing changes.
TEST_F(Form1Fixture, OnASmallScreenTheWindowFitsAndItsControlsScroll) {
  form().FitScreen(QRect(0, 0, 1021, 682));
  EXPECT_EQ(form().size(), QSize(1021, 682));
  EXPECT_EQ(form().findChild<QScrollArea*>(), nullptr);
  const QRect screen(0, 24, 800, 576);
  form().show();
  form().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form(), 3000));
  form().FitScreen(screen);  // shown, with its frame
  QTest::qWait(20);
  EXPECT_TRUE(screen.contains(form().frameGeometry()));
  auto* scroller = form().findChild<QScrollArea*>();
  ASSERT_NE(scroller, nullptr);
  EXPECT_EQ(Edit("Text1")->geometry(), QRect(84, 16, 665, 19));
  for (const char* name : {"Command3", "Command6", "Command10", "Text6"}) {
    QWidget* control = Child<QWidget>(name);
    control->setFocus();
    QTest::keyClick(control, Qt::Key_Tab, Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), control) << name;
    const QRect shown(control->mapTo(scroller->viewport(), QPoint()),
                      control->size());
    EXPECT_TRUE(scroller->viewport()->rect().contains(shown)) << name;
  }
}

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
  const std::string src = tree_.Path("src");
  const std::string made = tree_.Path("made");
  // The box's text reaches the run as typed, the leading space too.
  const std::vector<std::vector<std::string>> cases = {
      {src, "dst", kDestinationNotFullPath},
      {" " + src, made, kSourceNotFullPath}};
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
