// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/line_list_accessible.h"

#include <QPointer>
#include <QScrollBar>
#include <QWidget>

#include "ui/line_list.h"

namespace ferrybox {
namespace {

AccessibleEventSink event_sink = nullptr;

// Whether anyone hears announcements: checked first, so that a run without
// assistive technology pays one call per frame and nothing else.
bool Listening() { return event_sink != nullptr || QAccessible::isActive(); }

void Send(QAccessibleEvent* event) {
  if (event_sink != nullptr) {
    event_sink(event);
  } else {
    QAccessible::updateAccessibility(event);
  }
}

// One line of a LineList, by its index. Lines are only ever appended, or
// all removed at once (when the list's item interfaces are forgotten), so
// an index names the same line for the item's whole life.
class LineItemAccessible : public QAccessibleInterface,
                           public QAccessibleTableCellInterface {
 public:
  LineItemAccessible(LineList* list, int row) : list_(list), row_(row) {}

  int row() const { return row_; }

  bool isValid() const override { return list_ && row_ < list_->Count(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override {
    QAccessibleInterface* list = parent();
    return list != nullptr ? list->window() : nullptr;
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TableCellInterface)
      return static_cast<QAccessibleTableCellInterface*>(this);
    return nullptr;
  }
  QAccessibleInterface* parent() const override {
    return QAccessible::queryAccessibleInterface(list_);
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text type) const override {
    if (!isValid()) return QString();
    switch (type) {
      case QAccessible::Name:
        return list_->Line(row_);
      case QAccessible::Description:
        return list_->Detail(row_);
      default:
        return QString();
    }
  }
  void setText(QAccessible::Text, const QString&) override {}
  QAccessible::Role role() const override { return QAccessible::ListItem; }

  QRect rect() const override {
    if (!isValid()) return QRect();
    const QRect rect = list_->LineRect(row_);
    if (rect.isEmpty()) return QRect();
    return QRect(list_->viewport()->mapToGlobal(rect.topLeft()), rect.size());
  }

  QAccessible::State state() const override {
    QAccessible::State state;
    if (!isValid()) {
      state.invalid = true;
      return state;
    }
    state.selectable = true;
    state.focusable = true;
    if (list_->CurrentRow() == row_) {
      state.selected = true;
      state.focused = list_->hasFocus();
    }
    if (list_->LineRect(row_).isEmpty()) state.offscreen = true;
    return state;
  }

  // QAccessibleTableCellInterface
  bool isSelected() const override {
    return isValid() && list_->CurrentRow() == row_;
  }
  QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
  QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
  int columnIndex() const override { return 0; }
  int rowIndex() const override { return row_; }
  int columnExtent() const override { return 1; }
  int rowExtent() const override { return 1; }
  QAccessibleInterface* table() const override { return parent(); }

 private:
  QPointer<LineList> list_;
  const int row_;
};

QAccessibleInterface* LineListFactory(const QString& class_name,
                                      QObject* object) {
  if (class_name == QLatin1String(LineList::staticMetaObject.className()))
    return new LineListAccessible(static_cast<LineList*>(object));
  return nullptr;
}

LineListAccessible* InterfaceOf(LineList& list) {
  return dynamic_cast<LineListAccessible*>(
      QAccessible::queryAccessibleInterface(&list));
}

}  // namespace

LineListAccessible::LineListAccessible(LineList* list)
    : QAccessibleWidget(list, QAccessible::List) {}

LineListAccessible::~LineListAccessible() { ForgetItems(); }

LineList* LineListAccessible::list() const {
  return static_cast<LineList*>(widget());
}

void* LineListAccessible::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::TableInterface)
    return static_cast<QAccessibleTableInterface*>(this);
  return QAccessibleWidget::interface_cast(type);
}

int LineListAccessible::childCount() const { return list()->Count(); }

QAccessibleInterface* LineListAccessible::child(int index) const {
  if (index < 0 || index >= list()->Count()) return nullptr;
  const auto found = items_.constFind(index);
  if (found != items_.constEnd())
    return QAccessible::accessibleInterface(*found);
  auto* item = new LineItemAccessible(list(), index);
  items_.insert(index, QAccessible::registerAccessibleInterface(item));
  return item;
}

int LineListAccessible::indexOfChild(const QAccessibleInterface* child) const {
  const auto* item = dynamic_cast<const LineItemAccessible*>(child);
  if (item == nullptr || !item->isValid() || child->parent() != this) return -1;
  return item->row();
}

QAccessibleInterface* LineListAccessible::childAt(int x, int y) const {
  // Only the lines in view can be under a point: never walk them all.
  const QPoint point = list()->viewport()->mapFromGlobal(QPoint(x, y));
  return child(list()->LineAt(point));
}

QAccessibleInterface* LineListAccessible::focusChild() const {
  if (!list()->hasFocus()) return nullptr;
  return child(list()->CurrentRow());
}

QAccessibleInterface* LineListAccessible::cellAt(int row, int column) const {
  return column == 0 ? child(row) : nullptr;
}

int LineListAccessible::selectedCellCount() const {
  return list()->CurrentRow() >= 0 ? 1 : 0;
}

QList<QAccessibleInterface*> LineListAccessible::selectedCells() const {
  if (list()->CurrentRow() < 0) return {};
  return {child(list()->CurrentRow())};
}

QList<int> LineListAccessible::selectedRows() const {
  if (list()->CurrentRow() < 0) return {};
  return {list()->CurrentRow()};
}

bool LineListAccessible::isRowSelected(int row) const {
  return row >= 0 && list()->CurrentRow() == row;
}

bool LineListAccessible::selectRow(int row) {
  if (row < 0 || row >= list()->Count()) return false;
  list()->SelectLine(row);
  return true;
}

void LineListAccessible::modelChange(QAccessibleTableModelChangeEvent* event) {
  // Lines are appended at the end, which moves none; anything else may.
  if (event->modelChangeType() !=
      QAccessibleTableModelChangeEvent::RowsInserted)
    ForgetItems();
}

void LineListAccessible::ForgetItems() {
  for (const QAccessible::Id id : std::as_const(items_))
    QAccessible::deleteAccessibleInterface(id);
  items_.clear();
}

void InstallLineListAccessible() {
  static const bool installed = [] {
    QAccessible::installFactory(LineListFactory);
    return true;
  }();
  (void)installed;
}

void AnnounceNewLines(LineList& list, int first) {
  if (!Listening() || first >= list.Count()) return;
  const int newest = list.Count() - 1;
  QAccessibleTableModelChangeEvent inserted(
      &list, QAccessibleTableModelChangeEvent::RowsInserted);
  inserted.setFirstRow(first);
  inserted.setLastRow(newest);
  inserted.setFirstColumn(0);
  inserted.setLastColumn(0);
  Send(&inserted);
  // The desktop's bridge turns this into "children changed: added" with the
  // newest line, which is what a listener wants to hear; the lines before
  // it in the same frame are there to be read.
  QAccessibleEvent created(&list, QAccessible::ObjectCreated);
  created.setChild(newest);
  Send(&created);
}

void AnnounceCleared(LineList& list) {
  // The item interfaces go even when nobody listens: they must not outlive
  // their lines and show another line's text under the same index later.
  if (LineListAccessible* accessible = InterfaceOf(list))
    accessible->ForgetItems();
  if (!Listening()) return;
  QAccessibleTableModelChangeEvent reset(
      &list, QAccessibleTableModelChangeEvent::ModelReset);
  Send(&reset);
}

void AnnounceCurrentLine(LineList& list) {
  if (!Listening() || list.CurrentRow() < 0) return;
  QAccessibleEvent selected(&list, QAccessible::Selection);
  selected.setChild(list.CurrentRow());
  Send(&selected);
  if (!list.hasFocus()) return;
  QAccessibleEvent focus(&list, QAccessible::Focus);
  focus.setChild(list.CurrentRow());
  Send(&focus);
}

AccessibleEventSink SetAccessibleEventSink(AccessibleEventSink sink) {
  AccessibleEventSink previous = event_sink;
  event_sink = sink;
  return previous;
}

}  // namespace ferrybox
