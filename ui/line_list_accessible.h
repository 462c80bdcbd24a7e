// SPDX-License-Identifier: GPL-3.0-or-later
// What assistive technology (a screen reader, a braille display) sees of a
// LineList: a list whose items are its lines.
#ifndef FERRYBOX_UI_LINE_LIST_ACCESSIBLE_H_
#define FERRYBOX_UI_LINE_LIST_ACCESSIBLE_H_

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>

namespace ferrybox {

class LineList;

/// A LineList as a list of items, one per line, in the lines' order: the
/// newest line is the last child. Item interfaces are made only for the
/// lines asked for, so a list of 32,000 lines costs nothing until someone
/// reads it. It also answers as a one-column table, so that clients know
/// not to walk every item of a long list.
class LineListAccessible : public QAccessibleWidget,
                           public QAccessibleTableInterface {
 public:
  explicit LineListAccessible(LineList* list);
  ~LineListAccessible() override;

  void* interface_cast(QAccessible::InterfaceType type) override;
  int childCount() const override;
  QAccessibleInterface* child(int index) const override;
  int indexOfChild(const QAccessibleInterface* child) const override;
  QAccessibleInterface* childAt(int x, int y) const override;
  QAccessibleInterface* focusChild() const override;

  // QAccessibleTableInterface: one column, a row per line.
  QAccessibleInterface* caption() const override { return nullptr; }
  QAccessibleInterface* summary() const override { return nullptr; }
  QAccessibleInterface* cellAt(int row, int column) const override;
  int selectedCellCount() const override;
  QList<QAccessibleInterface*> selectedCells() const override;
  QString columnDescription(int) const override { return QString(); }
  int columnCount() const override { return 1; }
  QString rowDescription(int) const override { return QString(); }
  int rowCount() const override { return childCount(); }
  int selectedColumnCount() const override { return 0; }
  int selectedRowCount() const override { return selectedCellCount(); }
  QList<int> selectedColumns() const override { return {}; }
  QList<int> selectedRows() const override;
  bool isColumnSelected(int) const override { return false; }
  bool isRowSelected(int row) const override;
  bool selectRow(int row) override;
  bool selectColumn(int) override { return false; }
  bool unselectRow(int) override { return false; }
  bool unselectColumn(int) override { return false; }
  void modelChange(QAccessibleTableModelChangeEvent* event) override;

  /// Drops the item interfaces: their lines are gone.
  void ForgetItems();

 private:
  LineList* list() const;

  // Line index to the id of its item interface, for the lines asked for.
  mutable QHash<int, QAccessible::Id> items_;
};

/// Makes every LineList answer through LineListAccessible; once is enough.
void InstallLineListAccessible();

/// Tells assistive technology that lines from `first` on were appended:
/// one change for all of them and one new item, the newest line.
void AnnounceNewLines(LineList& list, int first);
/// Tells assistive technology that the list was emptied.
void AnnounceCleared(LineList& list);
/// Reports the selected line as selected and, when the list has the focus,
/// as the focused item.
void AnnounceCurrentLine(LineList& list);

/// Where the line lists' announcements go: to the desktop's assistive
/// technology when it listens (QAccessible::updateAccessibility), otherwise
/// nowhere. A sink set here hears them all instead; Qt drops events before
/// its own handler sees them when no assistive technology is running, as
/// under tests. Returns the sink it replaces; nullptr restores the desktop.
using AccessibleEventSink = void (*)(QAccessibleEvent* event);
AccessibleEventSink SetAccessibleEventSink(AccessibleEventSink sink);

}  // namespace ferrybox

#endif  // FERRYBOX_UI_LINE_LIST_ACCESSIBLE_H_
