// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/line_list.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

#include "ui/line_list_accessible.h"

namespace ferrybox {

LineList::LineList(QWidget* parent) : QAbstractScrollArea(parent) {
  InstallLineListAccessible();
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  verticalScrollBar()->setSingleStep(1);
}

void LineList::AddLine(const QString& line) {
  lines_.append(line);
  changed_ = true;
}

void LineList::SetDetail(int row, const QString& detail) {
  if (row >= 0 && row < lines_.size()) details_.insert(row, detail);
}

void LineList::Clear() {
  lines_.clear();
  details_.clear();
  wanted_top_ = -1;
  current_ = -1;
  changed_ = true;
  announced_ = 0;
  AnnounceCleared(*this);
}

int LineList::RowHeight() const { return fontMetrics().height() + 1; }

int LineList::VisibleRows() const {
  return std::max(1, viewport()->height() / RowHeight());
}

int LineList::TopIndex() const { return verticalScrollBar()->value(); }

bool LineList::Flush() {
  if (!changed_ && wanted_top_ < 0) return false;
  QScrollBar* bar = verticalScrollBar();
  const int rows = VisibleRows();
  bar->setRange(0, std::max(0, static_cast<int>(lines_.size()) - rows));
  bar->setPageStep(rows);
  if (wanted_top_ >= 0) bar->setValue(wanted_top_);
  wanted_top_ = -1;
  changed_ = false;
  // Painted at the next chance; a caller in a hurry repaints at once.
  viewport()->update();
  // Told at the pace of painting, so a run adding thousands of lines a
  // second sends one announcement per frame, not one per line.
  if (lines_.size() > announced_) {
    AnnounceNewLines(*this, announced_);
    announced_ = lines_.size();
  }
  return true;
}

QRect LineList::LineRect(int row) const {
  const int top = TopIndex();
  if (row < top || row >= lines_.size()) return QRect();
  const QRect rect(0, (row - top) * RowHeight(), viewport()->width(),
                   RowHeight());
  return rect.intersects(viewport()->rect()) ? rect : QRect();
}

int LineList::LineAt(QPoint point) const {
  if (!viewport()->rect().contains(point)) return -1;
  const int row = TopIndex() + point.y() / RowHeight();
  return row < lines_.size() ? row : -1;
}

void LineList::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  changed_ = true;
  Flush();
}

void LineList::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const int height = RowHeight();
  const int top = TopIndex();
  const int last = std::min<int>(lines_.size(), top + VisibleRows() + 1);
  const int width = viewport()->width();
  for (int row = top; row < last; ++row) {
    const QRect rect(0, (row - top) * height, width, height);
    if (row == current_) {
      painter.fillRect(rect, palette().highlight());
      painter.setPen(palette().highlightedText().color());
    } else {
      painter.setPen(palette().text().color());
    }
    painter.drawText(rect.adjusted(3, 0, -3, 0),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     lines_.at(row));
  }
}

void LineList::SelectLine(int row) {
  if (row < 0 || row >= lines_.size()) return;
  current_ = row;
  const int top = TopIndex();
  if (row < top) verticalScrollBar()->setValue(row);
  if (row >= top + VisibleRows())
    verticalScrollBar()->setValue(row - VisibleRows() + 1);
  viewport()->update();
  AnnounceCurrentLine(*this);
}

void LineList::mousePressEvent(QMouseEvent* event) {
  SelectLine(LineAt(event->position().toPoint()));
}

void LineList::keyPressEvent(QKeyEvent* event) {
  const int last = lines_.size() - 1;
  const int page = VisibleRows();
  switch (event->key()) {
    case Qt::Key_Up:
      SelectLine(current_ - 1);
      break;
    case Qt::Key_Down:
      SelectLine(current_ + 1);
      break;
    // The newest line is the last: End reaches it in one key press, however
    // long the run's list has grown.
    case Qt::Key_Home:
      SelectLine(0);
      break;
    case Qt::Key_End:
      SelectLine(last);
      break;
    case Qt::Key_PageUp:
      SelectLine(std::max(0, current_ - page));
      break;
    case Qt::Key_PageDown:
      SelectLine(std::min(last, current_ + page));
      break;
    case Qt::Key_F10:
      // Shift+F10 is the context menu key of keyboards without one.
      if (event->modifiers() == Qt::ShiftModifier && ShowCurrentDetail()) break;
      [[fallthrough]];
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

bool LineList::ShowCurrentDetail() {
  const QString detail = Detail(current_);
  if (detail.isEmpty()) return false;
  SelectLine(current_);
  const QRect line = LineRect(current_);
  QToolTip::showText(viewport()->mapToGlobal(line.bottomLeft()), detail,
                     viewport(), line);
  return true;
}

void LineList::contextMenuEvent(QContextMenuEvent* event) {
  // By mouse, the line under it becomes the selected one; a mouse's
  // context menu comes by the viewport, in its coordinates.
  if (event->reason() != QContextMenuEvent::Keyboard)
    SelectLine(LineAt(event->pos()));
  if (ShowCurrentDetail()) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool LineList::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip)
    return QAbstractScrollArea::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const int row = LineAt(help->pos());
  const QString detail = Detail(row);
  if (detail.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), detail, viewport(), LineRect(row));
  }
  return true;
}

void LineList::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  // The window reports the list itself as focused once this returns; the
  // selected line follows it, so that it is what a screen reader reads.
  QMetaObject::invokeMethod(
      this, [this] { AnnounceCurrentLine(*this); }, Qt::QueuedConnection);
}

}  // namespace ferrybox
