// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader is given of Form1 and Form9, read in-process through
// QAccessible as the desktop's accessibility bridge reads it.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMetaEnum>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <map>
#include <vector>

#include "tests/support/temp_tree.h"
#include "tests/ui/form1_fixture.h"
#include "ui/form9.h"
#include "ui/line_list_accessible.h"

namespace ferrybox {
namespace {

QAccessibleInterface* Accessible(QObject* object) {
  QAccessibleInterface* accessible =
      QAccessible::queryAccessibleInterface(object);
  EXPECT_NE(accessible, nullptr) << object->objectName().toStdString();
  return accessible;
}

QString Name(QAccessibleInterface* accessible) {
  return accessible ? accessible->text(QAccessible::Name) : QString();
}

// `root` and everything under it, as a screen reader walks it.
std::vector<QAccessibleInterface*> Tree(QAccessibleInterface* root) {
  std::vector<QAccessibleInterface*> tree = {root};
  for (size_t next = 0; next < tree.size(); ++next)
    for (int i = 0; i < tree[next]->childCount(); ++i)
      tree.push_back(tree[next]->child(i));
  return tree;
}

// What the line lists told assistive technology, one line per event: its
// type and the index and name of the item it is about, or how the table
// changed and which rows.
std::vector<std::string> heard;

void Hear(QAccessibleEvent* event) {
  std::string line =
      QMetaEnum::fromType<QAccessible::Event>().valueToKey(event->type());
  if (event->type() == QAccessible::TableModelChanged) {
    const char* const kChanges[] = {"ModelReset",   "DataChanged",
                                    "RowsInserted", "ColumnsInserted",
                                    "RowsRemoved",  "ColumnsRemoved"};
    const auto* change = static_cast<QAccessibleTableModelChangeEvent*>(event);
    line = kChanges[change->modelChangeType()];
    if (line != "ModelReset")
      line += " " + std::to_string(change->firstRow()) + "-" +
              std::to_string(change->lastRow());
  } else {
    line += " " + std::to_string(event->child()) + " " +
            Name(event->accessibleInterface()).toStdString();
  }
  heard.push_back(line);
}

class Accessibility : public Form1Fixture {
 protected:
  void SetUp() override {
    Form1Fixture::SetUp();
    heard.clear();
    previous_sink_ = SetAccessibleEventSink(&Hear);
  }
  void TearDown() override {
    SetAccessibleEventSink(previous_sink_);
    Form1Fixture::TearDown();
  }

 private:
  AccessibleEventSink previous_sink_ = nullptr;
};

TEST_F(Accessibility, EveryControlHasANameThatSaysWhatItIs) {
  form().Form_Load();
  EXPECT_EQ(Accessible(&form())->role(), QAccessible::Window);
  EXPECT_EQ(Name(Accessible(&form())), form().windowTitle());
  EXPECT_FALSE(form().windowTitle().isEmpty());

  struct Control {
    const char* object;
    QAccessible::Role role;
    const char* name;
    const char* label = nullptr;  // the control that labels it on screen
  };
  // Every control that takes the focus; the tab order test finds no other.
  const Control controls[] = {
      {"List1", QAccessible::List, "Source files"},
      {"List2", QAccessible::List, "Destination actions"},
      {"List3", QAccessible::List, "Messages and errors"},
      {"List4", QAccessible::List, "Profiles"},
      {"Text7", QAccessible::EditableText, "Profile name"},
      {"Command10", QAccessible::Button, "Save Profile"},
      {"OptionsButton", QAccessible::Button, "Options..."},
      {"Command4", QAccessible::Button, "Source: choose folder"},
      {"Text1", QAccessible::EditableText, "Source folder"},
      {"Command5", QAccessible::Button, "Destination: choose folder"},
      {"Text2", QAccessible::EditableText, "Destination folder"},
      {"Check1", QAccessible::CheckBox, "Show Files in source list"},
      {"Check2", QAccessible::CheckBox, "Show Files in destination list"},
      {"Check3", QAccessible::CheckBox, "Incremental Backup"},
      {"Command3", QAccessible::Button, "Go"},
      {"Command2", QAccessible::Button, "Stop"},
      {"Command11", QAccessible::Button, "Pause Copying"},
      {"Command6", QAccessible::Button, "Exit"},
      {"Text3", QAccessible::EditableText, "Files handled", "Label1"},
      {"Text4", QAccessible::EditableText, "Files copied", "Label2"},
      {"Text5", QAccessible::EditableText, "Megabytes handled", "Label3"},
      {"Text6", QAccessible::EditableText, "Megabytes per second", "Label4"},
  };
  for (const Control& control : controls) {
    QAccessibleInterface* accessible =
        Accessible(Child<QWidget>(control.object));
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), control.role) << control.object;
    EXPECT_EQ(Name(accessible), control.name) << control.object;
    // Every one of them does more than its caption or name says.
    EXPECT_FALSE(accessible->text(QAccessible::Description).isEmpty())
        << control.object;
    // A figure box is labelled by the caption above it, not only by its
    // frame's caption.
    if (control.label == nullptr) continue;
    bool labelled = false;
    for (const auto& [other, relation] :
         accessible->relations(QAccessible::Label))
      labelled |= other->object() == Child<QLabel>(control.label);
    EXPECT_TRUE(labelled) << control.object;
  }
  EXPECT_EQ(Accessible(Edit("Text1"))->text(QAccessible::Description),
            Edit("Text1")->toolTip());
  // The pause button is named by what it does now.
  form().ShowPaused(true);
  EXPECT_EQ(Name(Accessible(Button("Command11"))), "Resume Copying");
  form().ShowPaused(false);
  EXPECT_EQ(Name(Accessible(Button("Command11"))), "Pause Copying");
}

TEST_F(Accessibility, AfterARunTheListsOfferEveryLineAsAnItem) {
  testing::TempTree tree;
  for (const char* name : {"a", "b", "sub/c"})
    tree.Write(std::string("src/") + name, "x");
  SetFolders(tree.Path("src"), tree.Path("dst"));
  Go();

  for (const char* name : {"List1", "List2", "List3"}) {
    SCOPED_TRACE(name);
    LineList* list = Lines(name);
    QAccessibleInterface* accessible = Accessible(list);
    ASSERT_EQ(accessible->role(), QAccessible::List);
    ASSERT_NE(accessible->tableInterface(), nullptr);
    ASSERT_GE(list->Count(), 3);
    ASSERT_EQ(accessible->childCount(), list->Count());
    for (int i = 0; i < list->Count(); ++i) {
      QAccessibleInterface* item = accessible->child(i);
      ASSERT_NE(item, nullptr);
      EXPECT_EQ(item->role(), QAccessible::ListItem);
      EXPECT_EQ(Name(item), list->Line(i));
      EXPECT_EQ(item->parent(), accessible);
      EXPECT_EQ(accessible->indexOfChild(item), i);
      EXPECT_EQ(accessible->tableInterface()->cellAt(i, 0), item);
    }
    EXPECT_EQ(accessible->child(list->Count()), nullptr);
    EXPECT_EQ(accessible->tableInterface()->rowCount(), list->Count());
  }
  // The newest line, the run's closing line, is the last item.
  QAccessibleInterface* messages = Accessible(Lines("List3"));
  EXPECT_TRUE(Name(messages->child(messages->childCount() - 1))
                  .startsWith("Finished....in :"));
  // Reached from the window as a screen reader walks it.
  const auto window = Tree(Accessible(&form()));
  EXPECT_NE(std::find(window.begin(), window.end(), messages), window.end());
}

TEST_F(Accessibility, NewLinesAreAnnouncedOncePerPaintAndClearedOnesForgotten) {
  LineList* list = Lines("List1");
  for (int i = 0; i < 20000; ++i) list->AddLine(QString("line %1").arg(i));
  EXPECT_TRUE(heard.empty());
  list->Flush();
  EXPECT_EQ(heard,
            (std::vector<std::string>{"RowsInserted 0-19999",
                                      "ObjectCreated 19999 line 19999"}));
  heard.clear();
  list->Flush();  // nothing new
  list->AddLine("one more");
  list->Flush();
  EXPECT_EQ(heard, (std::vector<std::string>{"RowsInserted 20000-20000",
                                             "ObjectCreated 20000 one more"}));
  heard.clear();
  QAccessibleInterface* accessible = Accessible(list);
  const QAccessible::Id old_item = QAccessible::uniqueId(accessible->child(3));
  list->Clear();
  EXPECT_EQ(heard, std::vector<std::string>{"ModelReset"});
  EXPECT_EQ(QAccessible::accessibleInterface(old_item), nullptr);
  EXPECT_EQ(accessible->childCount(), 0);
  for (int i = 0; i < 5; ++i) list->AddLine(QString("new %1").arg(i));
  list->Flush();
  EXPECT_EQ(Name(accessible->child(3)), "new 3");
  EXPECT_EQ(heard.back(), "ObjectCreated 4 new 4");
}

TEST_F(Accessibility, ItemsSitWhereTheirLinesArePaintedAndKeysReachTheNewest) {
  form().show();
  QApplication::setActiveWindow(&form());
  LineList* list = Lines("List3");
  for (int i = 0; i < 100; ++i) list->AddLine(QString("line %1").arg(i));
  list->Flush();
  list->SetTopIndex(40);
  list->Flush();
  QAccessibleInterface* accessible = Accessible(list);
  for (int row : {40, 42}) {
    const QRect painted = list->LineRect(row);
    ASSERT_FALSE(painted.isEmpty());
    const QPoint centre = list->viewport()->mapToGlobal(painted.center());
    QAccessibleInterface* item = accessible->childAt(centre.x(), centre.y());
    EXPECT_EQ(item, accessible->child(row));
    EXPECT_TRUE(item->rect().contains(centre));
  }
  EXPECT_TRUE(accessible->child(39)->rect().isEmpty());

  list->SelectLine(5);
  // The selected line is what the list presents when it gets the focus.
  heard.clear();
  list->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !heard.empty(); }, 2000));
  EXPECT_EQ(heard.back(), "Focus 5 line 5");

  // End reaches the newest line; paging moves by what fits in view, Home to
  // the first line, the arrows by one line. Each move is heard and leaves the
  // line it reached focused, selected and in view, and far lines out of view.
  const int page = list->VisibleRows();
  const std::pair<Qt::Key, int> keys[] = {
      {Qt::Key_End, 99},       {Qt::Key_PageUp, 99 - page},
      {Qt::Key_Up, 98 - page}, {Qt::Key_Home, 0},
      {Qt::Key_Down, 1},       {Qt::Key_PageDown, 1 + page}};
  for (const auto& [key, row] : keys) {
    SCOPED_TRACE(key);
    heard.clear();
    QTest::keyClick(list, key);
    EXPECT_EQ(list->CurrentRow(), row);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back(),
              "Focus " + std::to_string(row) + " line " + std::to_string(row));
    QAccessibleInterface* item = accessible->child(row);
    EXPECT_EQ(accessible->focusChild(), item);
    EXPECT_TRUE(item->state().selected && item->state().focused);
    EXPECT_FALSE(item->state().offscreen);
    EXPECT_TRUE(accessible->child(row < 50 ? 99 : 0)->state().offscreen);
    EXPECT_EQ(accessible->tableInterface()->selectedRows(), QList<int>{row});
  }
}

TEST_F(Accessibility, TheNoticeIsADialogWhoseTextAndButtonsCanBeRead) {
  Form9 notice(form());
  QAccessibleInterface* dialog = Accessible(&notice);
  EXPECT_EQ(dialog->role(), QAccessible::Dialog);
  EXPECT_EQ(Name(dialog), "New Version for download is available.");

  // Walked from the dialog, as a screen reader reads it when it opens.
  std::map<QString, QAccessibleInterface*> found;
  for (QAccessibleInterface* next : Tree(dialog)) found[Name(next)] = next;
  const QString message = notice.findChild<QLabel*>("Label1")->text();
  ASSERT_TRUE(found.count(message));
  EXPECT_EQ(found[message]->role(), QAccessible::StaticText);
  for (const char* button : {"Yes, Download", "No, Continue"}) {
    ASSERT_TRUE(found.count(button)) << button;
    EXPECT_EQ(found[button]->role(), QAccessible::Button);
    EXPECT_FALSE(found[button]->text(QAccessible::Description).isEmpty());
  }
}

}  // namespace
}  // namespace ferrybox
