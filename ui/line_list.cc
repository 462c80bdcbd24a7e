#include "ui/line_list.h"

namespace ferrybox {

int LineModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : lines_.size();
}

QVariant LineModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() ||
      index.row() >= lines_.size())
    return {};
  return lines_.at(index.row());
}

void LineModel::Clear() {
  pending_.clear();
  if (lines_.isEmpty()) return;
  beginResetModel();
  lines_.clear();
  endResetModel();
}

QString LineModel::Line(int index) const {
  if (index < lines_.size()) return lines_.at(index);
  return pending_.value(index - lines_.size());
}

bool LineModel::Flush() {
  if (pending_.isEmpty()) return false;
  const int first = lines_.size();
  beginInsertRows(QModelIndex(), first, first + pending_.size() - 1);
  lines_.append(pending_);
  pending_.clear();
  endInsertRows();
  return true;
}

LineList::LineList(QWidget* parent) : QListView(parent), model_(this) {
  setModel(&model_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Every line is one text row: lets the view skip measuring each line.
  setUniformItemSizes(true);
}

void LineList::Clear() {
  model_.Clear();
  wanted_top_ = -1;
}

int LineList::TopIndex() const {
  const QModelIndex top = indexAt(QPoint(1, 1));
  return top.isValid() ? top.row() : 0;
}

void LineList::Flush() {
  model_.Flush();
  if (wanted_top_ >= 0 && wanted_top_ < model_.rowCount()) {
    scrollTo(model_.index(wanted_top_), QAbstractItemView::PositionAtTop);
  }
  wanted_top_ = -1;
}

}  // namespace ferrybox
