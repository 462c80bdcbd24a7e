// SPDX-License-Identifier: GPL-3.0-or-later
// A list box for long streams of lines: List1, List2 and List3.
#ifndef FERRYBOX_UI_LINE_LIST_H_
#define FERRYBOX_UI_LINE_LIST_H_

#include <QAbstractScrollArea>
#include <QHash>
#include <QString>
#include <QStringList>

namespace ferrybox {

/// An unsorted, single-selection list of text lines. It paints only the
/// lines in view from a plain array, so appending is constant time however
/// long the list grows, and a run adding thousands of lines a second pays
/// for one paint per display frame, not one per line. Assistive technology
/// sees it as a list whose items are its lines (line_list_accessible.h);
/// new lines are announced at the same pace as they are painted.
class LineList : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit LineList(QWidget* parent = nullptr);

  void AddLine(const QString& line);
  void Clear();
  int Count() const { return lines_.size(); }
  QString Line(int index) const { return lines_.value(index); }
  /// Says more about line `row` than its text: shown as the line's tooltip,
  /// by the context menu key on the selected line, and to assistive
  /// technology as the line's description.
  void SetDetail(int row, const QString& detail);
  QString Detail(int row) const { return details_.value(row); }
  /// Shows the selected line's detail by the line; false when it has none.
  bool ShowCurrentDetail();
  /// Asks for line `index` at the top; applied at the next Flush(), as far
  /// as the scroll range allows.
  void SetTopIndex(int index) { wanted_top_ = index; }
  /// The first line in view.
  int TopIndex() const;
  /// The selected line, or -1.
  int CurrentRow() const { return current_; }
  /// Selects line `row` and scrolls it into view; out of range does nothing.
  void SelectLine(int row);
  /// Where line `row` is painted, in viewport coordinates; empty when the
  /// line is out of view.
  QRect LineRect(int row) const;
  /// The line painted at `point` of the viewport, or -1.
  int LineAt(QPoint point) const;
  /// Lines that fit in the view.
  int VisibleRows() const;
  /// Brings the scroll range and position up to date with the lines added
  /// since the last call. Returns whether the view needs painting.
  bool Flush();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  int RowHeight() const;

  QStringList lines_;
  // Few lines have one: by line.
  QHash<int, QString> details_;
  int wanted_top_ = -1;
  int current_ = -1;
  bool changed_ = false;
  // Lines already announced to assistive technology.
  int announced_ = 0;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_LINE_LIST_H_
