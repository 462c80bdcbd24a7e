// SPDX-License-Identifier: GPL-3.0-or-later
// "Options...": what a backup leaves out.
#ifndef FERRYBOX_UI_OPTIONS_DIALOG_H_
#define FERRYBOX_UI_OPTIONS_DIALOG_H_

#include <QDialog>

#include "settings/options_file.h"

class QCheckBox;
class QSpinBox;
class QPlainTextEdit;
class QPushButton;

namespace ferrybox {

/// The reminder of the pattern syntax under the list.
inline constexpr char kLeaveOutSyntax[] =
    "* ? [...] in a name, ** across folders, /x from the source, x/ folders "
    "only, # comment";

/// A small modal dialog: the leave-out list as plain text, one pattern a
/// line, the tick "Leave out cache folders", a one-line reminder of the
/// syntax, OK and Cancel. Its controls carry object names ("LeaveOutList",
/// "LeaveOutCaches", "OkButton", "CancelButton") and accessible names; Tab
/// moves from the list to the tick and the buttons.
class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  /// Shows `options`; what it does not edit (lines of a later version) is
  /// kept for Options().
  explicit OptionsDialog(const ProfileOptions& options,
                         QWidget* parent = nullptr);

  /// The options as the dialog now shows them.
  ProfileOptions Options() const;

 private:
  ProfileOptions options_;
  QPlainTextEdit* list_;
  QCheckBox* caches_;
  QSpinBox* keep_days_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_OPTIONS_DIALOG_H_
