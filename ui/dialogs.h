// SPDX-License-Identifier: GPL-3.0-or-later
// The message boxes and the folder dialog, behind one small interface so
// that tests can answer them in advance.
#ifndef FERRYBOX_UI_DIALOGS_H_
#define FERRYBOX_UI_DIALOGS_H_

#include <QString>

#include "settings/options_file.h"

namespace ferrybox {

enum class MessageButtons { kOk, kYesNo };
enum class MessageIcon { kNone, kQuestion, kInformation, kWarning };
enum class MessageAnswer { kOk, kYes, kNo };

/// One modal message box.
struct MessageRequest {
  QString text;
  QString title;
  MessageButtons buttons = MessageButtons::kOk;
  MessageIcon icon = MessageIcon::kNone;
  /// The button that Enter presses.
  MessageAnswer default_answer = MessageAnswer::kOk;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  /// Shows a modal message box and returns the button pressed. A Yes/No
  /// box closed without a button answers No.
  virtual MessageAnswer ShowMessage(const MessageRequest& request) = 0;

  /// Shows a modal dialog titled `title` in which only folders can be
  /// chosen, opened at `start_folder`. Returns the chosen folder's path as
  /// the file system gives it ("/" for the root, no trailing "/" otherwise),
  /// or "" when the dialog was cancelled or closed.
  virtual QString ChooseFolder(const QString& title,
                               const QString& start_folder) = 0;

  /// Shows the modal "Options" dialog with `*options`. On OK returns true
  /// with the options as edited in `*options`; on Cancel (or a close)
  /// returns false and leaves them as they were.
  virtual bool EditOptions(ProfileOptions* options) = 0;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_DIALOGS_H_
