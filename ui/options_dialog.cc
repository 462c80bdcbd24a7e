// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/options_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/name_bytes.h"

namespace ferrybox {

OptionsDialog::OptionsDialog(const ProfileOptions& options, QWidget* parent)
    : QDialog(parent), options_(options) {
  setObjectName("OptionsDialog");
  setWindowTitle("Options");
  auto* layout = new QVBoxLayout(this);

  auto* caption = new QLabel("&Leave out (one pattern a line):", this);
  list_ = new QPlainTextEdit(this);
  list_->setObjectName("LeaveOutList");
  list_->setAccessibleName("Leave out");
  list_->setAccessibleDescription(
      QString("Patterns of what a backup leaves out, one a line: ") +
      kLeaveOutSyntax);
  // Tab leaves the list, as in every other box of the program.
  list_->setTabChangesFocus(true);
  list_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QStringList lines;
  for (const std::string& line : options.leave_out) lines << ShownName(line);
  list_->setPlainText(lines.join('\n'));
  caption->setBuddy(list_);

  auto* reminder = new QLabel(kLeaveOutSyntax, this);
  reminder->setObjectName("LeaveOutSyntax");

  caches_ = new QCheckBox("Leave out &cache folders", this);
  caches_->setObjectName("LeaveOutCaches");
  caches_->setAccessibleDescription(
      "Leaves out every folder that holds a CACHEDIR.TAG file.");
  caches_->setChecked(options.leave_out_caches);

  // "Keep replaced files for N days", the number in the sentence.
  auto* keep_row = new QHBoxLayout;
  auto* keep_before = new QLabel("&Keep replaced files for", this);
  keep_days_ = new QSpinBox(this);
  keep_days_->setObjectName("KeepVersionsDays");
  keep_days_->setRange(0, kMaxKeepDays);
  keep_days_->setValue(options.keep_versions_days);
  keep_days_->setAccessibleName("Keep replaced files for days");
  keep_days_->setAccessibleDescription(
      "Before a backup replaces a changed copy, it keeps the earlier one in "
      "the destination's .ferrybox-versions folder for this many days; 0 "
      "keeps none.");
  keep_before->setBuddy(keep_days_);
  auto* keep_after = new QLabel("days", this);
  keep_row->addWidget(keep_before);
  keep_row->addWidget(keep_days_);
  keep_row->addWidget(keep_after);
  keep_row->addStretch();

  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
  ok->setObjectName("OkButton");
  cancel->setObjectName("CancelButton");
  // Return in the list makes a new line (the list takes the key); from the
  // tick it presses OK, the default button.
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  layout->addWidget(caption);
  layout->addWidget(list_);
  layout->addWidget(reminder);
  layout->addWidget(caches_);
  layout->addLayout(keep_row);
  layout->addWidget(buttons);
  setTabOrder(list_, caches_);
  setTabOrder(caches_, keep_days_);
  setTabOrder(keep_days_, ok);
  setTabOrder(ok, cancel);
  list_->setFocus();
  resize(reminder->sizeHint().width() + 40, 320);
}

ProfileOptions OptionsDialog::Options() const {
  ProfileOptions options = options_;
  options.leave_out.clear();
  const QString text = list_->toPlainText();
  if (!text.isEmpty()) {
    for (const QString& line : text.split('\n'))
      options.leave_out.push_back(NameBytes(line));
    // A last line ended by a line break leaves no empty pattern behind.
    if (options.leave_out.back().empty()) options.leave_out.pop_back();
  }
  options.leave_out_caches = caches_->isChecked();
  options.keep_versions_days = keep_days_->value();
  return options;
}

}  // namespace ferrybox
