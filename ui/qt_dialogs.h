// SPDX-License-Identifier: GPL-3.0-or-later
// The real message boxes and folder dialog.
#ifndef FERRYBOX_UI_QT_DIALOGS_H_
#define FERRYBOX_UI_QT_DIALOGS_H_

#include "ui/dialogs.h"

class QWidget;

namespace ferrybox {

/// Qt's QMessageBox and QFileDialog. Message boxes are centred on `window`;
/// the folder dialog belongs to no window.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* window) : window_(window) {}

  MessageAnswer ShowMessage(const MessageRequest& request) override;
  QString ChooseFolder(const QString& title,
                       const QString& start_folder) override;
  bool EditOptions(ProfileOptions* options) override;

 private:
  QWidget* window_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_QT_DIALOGS_H_
