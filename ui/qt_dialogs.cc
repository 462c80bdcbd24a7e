// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/qt_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include "ui/fresh_keys.h"
#include "ui/options_dialog.h"

namespace ferrybox {
namespace {

QMessageBox::Icon IconOf(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kNone:
      return QMessageBox::NoIcon;
    case MessageIcon::kQuestion:
      return QMessageBox::Question;
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kWarning:
      return QMessageBox::Warning;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButton ButtonOf(MessageAnswer answer) {
  switch (answer) {
    case MessageAnswer::kOk:
      return QMessageBox::Ok;
    case MessageAnswer::kYes:
      return QMessageBox::Yes;
    case MessageAnswer::kNo:
      return QMessageBox::No;
  }
  return QMessageBox::Ok;
}

}  // namespace

MessageAnswer QtDialogs::ShowMessage(const MessageRequest& request) {
  const bool yes_no = request.buttons == MessageButtons::kYesNo;
  QMessageBox box(IconOf(request.icon), request.title, request.text,
                  yes_no ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                  window_);
  box.setDefaultButton(ButtonOf(request.default_answer));
  // The Enter that opened the box may still be held down.
  new FreshKeysOnly(&box);
  // Closing the box is the same as No, never Yes.
  if (yes_no) box.setEscapeButton(QMessageBox::No);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return MessageAnswer::kYes;
    case QMessageBox::No:
      return MessageAnswer::kNo;
    default:
      return yes_no ? MessageAnswer::kNo : MessageAnswer::kOk;
  }
}

QString QtDialogs::ChooseFolder(const QString& title,
                                const QString& start_folder) {
  // Qt's own dialog, not the desktop's: it offers only folders whose names
  // it read exactly, while a desktop dialog hands back a name that is not
  // UTF-8 with replacement marks in it, naming some other folder.
  QFileDialog dialog(nullptr, title, start_folder);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOptions(QFileDialog::ShowDirsOnly |
                    QFileDialog::DontUseNativeDialog);
  // The key that clicked "Source:" may still be held down: its repeats
  // would accept the folder the picker opened at.
  new FreshKeysOnly(&dialog);
  if (dialog.exec() != QDialog::Accepted) return QString();
  return dialog.selectedFiles().value(0);
}

bool QtDialogs::EditOptions(ProfileOptions* options) {
  OptionsDialog dialog(*options, window_);
  new FreshKeysOnly(&dialog);
  if (dialog.exec() != QDialog::Accepted) return false;
  *options = dialog.Options();
  return true;
}

}  // namespace ferrybox
