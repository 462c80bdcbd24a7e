#include "ui/line_list.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace ferrybox {

LineList::LineList(QWidget* parent) : QAbstractScrollArea(parent) {
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

void LineList::Clear() {
  lines_.clear();
  wanted_top_ = -1;
  current_ = -1;
  changed_ = true;
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
  return true;
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

void LineList::Select(int row) {
  if (row < 0 || row >= lines_.size()) return;
  current_ = row;
  const int top = TopIndex();
  if (row < top) verticalScrollBar()->setValue(row);
  if (row >= top + VisibleRows())
    verticalScrollBar()->setValue(row - VisibleRows() + 1);
  viewport()->update();
}

void LineList::mousePressEvent(QMouseEvent* event) {
  Select(TopIndex() + event->position().toPoint().y() / RowHeight());
}

void LineList::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
      Select(current_ - 1);
      break;
    case Qt::Key_Down:
      Select(current_ + 1);
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

}  // namespace ferrybox
