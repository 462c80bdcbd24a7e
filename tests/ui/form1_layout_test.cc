#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "tests/ui/form1_fixture.h"
#include "tests/ui/qstring_printer.h"

namespace ferrybox {
namespace {

using Form1Layout = Form1Fixture;

TEST_F(Form1Layout, StartsWithZeroFiguresTwoChecksTickedAndTimer3Running) {
  EXPECT_EQ(form().size(), QSize(1021, 682));
  for (const char* name : {"Text3", "Text4", "Text5", "Text6"})
    EXPECT_EQ(Edit(name)->text(), "0") << name;
  EXPECT_EQ(form().CheckValue(CheckBox::kCheck1), 1);
  EXPECT_EQ(form().CheckValue(CheckBox::kCheck2), 1);
  EXPECT_EQ(form().CheckValue(CheckBox::kCheck3), 0);
  EXPECT_EQ(Child<QTimer>("Timer3")->interval(), 1000);
  EXPECT_TRUE(Child<QTimer>("Timer3")->isActive());
}

TEST_F(Form1Layout, CaptionsAndTooltipsReadAsDesigned) {
  // clang-format off
  const std::pair<const char*, const char*> captions[] = {
      {"Frame1", "Copy Files From:"}, {"Frame2", "Copy Files To:"},
      {"Frame3", "Folder Select"},    {"Frame4", "Messages and Errors:"},
      {"Frame5", "Controls"},         {"Frame6", "Choose Profile, Click to load:"},
      {"Command3", "Go"},             {"Command2", "Stop"},
      {"Command11", "Pause Copying"}, {"Command6", "Exit"},
      {"Command10", "Save Profile"},  {"Command4", "Source:"},
      {"Command5", "Destination:"},   {"Check3", "Incremental Backup"},
      {"Label5", "Hint: Show files = slower copying"}};
  // clang-format on
  for (const auto& [name, caption] : captions) {
    const QWidget* control = Child<QWidget>(name);
    const QVariant title = control->property("title");  // frames only
    EXPECT_EQ((title.isValid() ? title : control->property("text")).toString(),
              caption);
  }
  EXPECT_EQ(Edit("Text1")->toolTip(),
            "Directory to be backed up and made a copy from. This directory "
            "MUST already exist!");
  EXPECT_EQ(Edit("Text2")->toolTip(),
            "Directory where the backed up files should be stored. This "
            "directory MUST already exist!");
}

TEST_F(Form1Layout, ControlsSitAtTheirTwipsPositionsInArial825) {
  // Frame-relative positions, in pixels of 15 twips.
  EXPECT_EQ(Child<QWidget>("Frame4")->geometry(), QRect(764, 0, 253, 265));
  EXPECT_EQ(Lines("List1")->geometry(), QRect(4, 16, 369, 508));
  EXPECT_EQ(Edit("Text1")->geometry(), QRect(84, 16, 665, 19));
  EXPECT_EQ(Button("Command11")->geometry(), QRect(8, 40, 89, 21));
  EXPECT_EQ(Edit("Text1")->parentWidget()->objectName(), "Frame3");
  for (QWidget* widget : form().findChildren<QWidget*>()) {
    const QFont font = widget->font();
    EXPECT_TRUE(font.family() == "Arial" && font.pointSizeF() == 8.25 &&
                !font.bold())
        << widget->objectName().toStdString();
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

TEST_F(Form1Layout, LinesAndFiguresShowOnceTheEventLoopRuns) {
  form().show();
  for (int i = 0; i < 200; ++i) form().lists().lp3("line " + std::to_string(i));
  form().SetFigure(FigureBox::kText5, "12Mb");
  QApplication::processEvents();
  EXPECT_EQ(Edit("Text5")->text(), "12Mb");
  LineList* list3 = Lines("List3");
  ASSERT_EQ(list3->Count(), 200);
  // The newest line is the last one in view.
  EXPECT_EQ(list3->TopIndex() + list3->VisibleRows(), 200);
}

}  // namespace
}  // namespace ferrybox
