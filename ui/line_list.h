// A list box for long streams of lines: List1, List2 and List3.
#ifndef FERRYBOX_UI_LINE_LIST_H_
#define FERRYBOX_UI_LINE_LIST_H_

#include <QAbstractListModel>
#include <QListView>
#include <QString>
#include <QStringList>

namespace ferrybox {

/// The lines of one list. Appended lines wait in a batch until Flush(), so
/// that a run adding thousands of lines a second pays for one view update
/// per paint instead of one per line.
class LineModel : public QAbstractListModel {
  Q_OBJECT

 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  void Append(const QString& line) { pending_.append(line); }
  void Clear();
  /// Lines held, shown or not yet shown.
  int Count() const { return lines_.size() + pending_.size(); }
  QString Line(int index) const;
  /// Moves the waiting lines into the view. Returns whether any moved.
  bool Flush();

 private:
  QStringList lines_;
  QStringList pending_;
};

/// An unsorted, single-selection list of lines.
class LineList : public QListView {
  Q_OBJECT

 public:
  explicit LineList(QWidget* parent = nullptr);

  void AddLine(const QString& line) { model_.Append(line); }
  void Clear();
  int Count() const { return model_.Count(); }
  QString Line(int index) const { return model_.Line(index); }
  /// Asks for line `index` at the top; applied at the next Flush().
  void SetTopIndex(int index) { wanted_top_ = index; }
  /// The first line the view shows.
  int TopIndex() const;
  /// Shows every waiting line and the wanted scroll position.
  void Flush();

 private:
  LineModel model_;
  int wanted_top_ = -1;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_LINE_LIST_H_
