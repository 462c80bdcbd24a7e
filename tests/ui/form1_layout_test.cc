#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "tests/ui/form1_fixture.h"
#include "ui/line_list.h"

namespace ferrybox {
namespace {

using Form1Layout = Form1Fixture;

TEST_F(Form1Layout, StartsWithTheInitialTextsChecksAndFigures) {
  EXPECT_EQ(form().size(), QSize(1021, 682));
  EXPECT_EQ(Edit("Text1")->text(), QDir::homePath() + "/allfiles");
  EXPECT_EQ(Edit("Text2")->text(), QDir::homePath() + "/allfilesbackup");
  EXPECT_EQ(Edit("Text7")->text(), "");
  for (const char* name : {"Text3", "Text4", "Text5", "Text6"})
    EXPECT_EQ(Edit(name)->text(), "0") << name;
  EXPECT_TRUE(Check("Check1")->isChecked());
  EXPECT_TRUE(Check("Check2")->isChecked());
  EXPECT_FALSE(Check("Check3")->isChecked());
  for (const char* name : {"List1", "List2", "List3"})
    EXPECT_EQ(Lines(name)->Count(), 0) << name;
  EXPECT_EQ(Child<QListWidget>("List4")->count(), 0);
}

TEST_F(Form1Layout, CaptionsAndTooltipsReadAsDesigned) {
  EXPECT_EQ(Child<QGroupBox>("Frame1")->title(), "Copy Files From:");
  EXPECT_EQ(Child<QGroupBox>("Frame2")->title(), "Copy Files To:");
  EXPECT_EQ(Child<QGroupBox>("Frame3")->title(), "Folder Select");
  EXPECT_EQ(Child<QGroupBox>("Frame4")->title(), "Messages and Errors:");
  EXPECT_EQ(Child<QGroupBox>("Frame5")->title(), "Controls");
  EXPECT_EQ(Child<QGroupBox>("Frame6")->title(),
            "Choose Profile, Click to load:");
  EXPECT_EQ(Button("Command3")->text(), "Go");
  EXPECT_EQ(Button("Command2")->text(), "Stop");
  EXPECT_EQ(Button("Command11")->text(), "Pause Copying");
  EXPECT_EQ(Button("Command6")->text(), "Exit");
  EXPECT_EQ(Button("Command10")->text(), "Save Profile");
  EXPECT_EQ(Button("Command4")->text(), "Source:");
  EXPECT_EQ(Button("Command5")->text(), "Destination:");
  EXPECT_EQ(Check("Check3")->text(), "Incremental Backup");
  EXPECT_EQ(Child<QLabel>("Label5")->text(),
            "Hint: Show files = slower copying");
  EXPECT_EQ(Edit("Text1")->toolTip(),
            "Directory to be backed up and made a copy from. This directory "
            "MUST already exist!");
  EXPECT_EQ(Edit("Text2")->toolTip(),
            "Directory where the backed up files should be stored. This "
            "directory MUST already exist!");
  EXPECT_TRUE(Edit("Text3")->toolTip().isEmpty());
  EXPECT_TRUE(Button("Command3")->toolTip().isEmpty());
}

TEST_F(Form1Layout, ControlsSitAtTheirTwipsPositions) {
  // Frame-relative positions, in pixels of 15 twips.
  EXPECT_EQ(Child<QGroupBox>("Frame4")->geometry(), QRect(764, 0, 253, 265));
  EXPECT_EQ(Child<QGroupBox>("Frame5")->geometry(), QRect(4, 612, 757, 69));
  EXPECT_EQ(Lines("List1")->geometry(), QRect(4, 16, 369, 508));
  EXPECT_EQ(Edit("Text1")->geometry(), QRect(84, 16, 665, 19));
  EXPECT_EQ(Button("Command11")->geometry(), QRect(8, 40, 89, 21));
  EXPECT_EQ(Edit("Text5")->geometry(), QRect(440, 40, 105, 19));
  EXPECT_EQ(Child<QListWidget>("List4")->geometry(), QRect(4, 16, 245, 368));
  EXPECT_EQ(Edit("Text1")->parentWidget()->objectName(), "Frame3");
  EXPECT_EQ(Check("Check3")->parentWidget()->objectName(), "Frame5");
}

TEST_F(Form1Layout, EveryControlUsesArial825) {
  for (QWidget* widget : form().findChildren<QWidget*>()) {
    EXPECT_EQ(widget->font().family(), "Arial")
        << widget->objectName().toStdString();
    EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), 8.25);
    EXPECT_FALSE(widget->font().bold());
  }
}

TEST_F(Form1Layout, TabFollowsTheOrderNumbers) {
  const char* const expected[] = {
      "List1",    "List2",    "Command4", "Text1",     "Command5", "Text2",
      "Check1",   "Check2",   "List3",    "Command10", "List4",    "Text7",
      "Command6", "Command3", "Command2", "Command11", "Text6",    "Text5",
      "Text4",    "Text3",    "Check3"};
  QWidget* widget = Child<QWidget>("List1");
  for (size_t i = 1; i < std::size(expected); ++i) {
    widget = widget->nextInFocusChain();
    // Skip containers and the inner parts of compound controls.
    while (widget->focusPolicy() == Qt::NoFocus ||
           widget->objectName().isEmpty())
      widget = widget->nextInFocusChain();
    EXPECT_EQ(widget->objectName().toStdString(), expected[i]);
  }
}

TEST_F(Form1Layout, ListsAreUnsortedSingleSelection) {
  for (const char* name : {"List1", "List2", "List3"})
    EXPECT_EQ(Lines(name)->selectionMode(), QAbstractItemView::SingleSelection);
  auto* list4 = Child<QListWidget>("List4");
  EXPECT_EQ(list4->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_FALSE(list4->isSortingEnabled());
}

TEST_F(Form1Layout, Timer3TicksEverySecondForTheWindowsLife) {
  auto* timer = form().findChild<QTimer*>("Timer3");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 1000);
  EXPECT_TRUE(timer->isActive());
}

TEST_F(Form1Layout, LinesReachTheWidgetAndTheNewestStaysInView) {
  MessageLists& lists = form().lists();
  for (int i = 0; i < 200; ++i) lists.lp3("message " + std::to_string(i));
  // Whatever was deferred shows once the event loop runs.
  QApplication::processEvents();
  LineList* list3 = Lines("List3");
  ASSERT_EQ(list3->model()->rowCount(), 200);
  EXPECT_EQ(list3->Line(199), "message 199");
  const QRect last = list3->visualRect(list3->model()->index(199, 0));
  EXPECT_TRUE(list3->viewport()->rect().contains(last));
}

TEST_F(Form1Layout, FiguresShowOnceTheRunYields) {
  form().SetFigure(FigureBox::kText5, "12Mb");
  form().ProcessEvents();
  EXPECT_EQ(Edit("Text5")->text(), "12Mb");
}

}  // namespace
}  // namespace ferrybox
