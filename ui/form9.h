// SPDX-License-Identifier: GPL-3.0-or-later
// Form9: the new-version notice.
#ifndef FERRYBOX_UI_FORM9_H_
#define FERRYBOX_UI_FORM9_H_

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;

namespace ferrybox {

class FreshKeysOnly;

/// A small window, not modal, that tells the user a newer version is
/// published and asks whether to download it. The answer goes out as
/// AnswerGiven; the notice is hidden, never destroyed, after an answer.
/// Closing it through its title bar answers "No, Continue".
class Form9 : public QWidget {
  Q_OBJECT

 public:
  /// A child window of `main`, hidden until ShowNotice().
  explicit Form9(QWidget& main);

  /// Shows the notice, waiting for a new answer; the first time, Form_Load
  /// places it.
  void ShowNotice();

  /// Brings the notice to the front and places it at the main window's
  /// outer size less its own, halved, in screen coordinates.
  void Form_Load();
  /// "Yes, Download".
  void Command1_Click();
  /// "No, Continue".
  void Command2_Click();

 signals:
  /// The notice was answered: `download` is true for "Yes, Download".
  void AnswerGiven(bool download);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Answer(bool download);

  QWidget& main_;
  FreshKeysOnly* fresh_keys_;
  bool loaded_ = false;
  QGroupBox* Frame1;
  QLabel* Label1;
  QPushButton* Command1;
  QPushButton* Command2;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_FORM9_H_
