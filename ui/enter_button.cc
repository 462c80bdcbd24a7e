// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/enter_button.h"

#include <QKeyEvent>

#include "ui/fresh_keys.h"

namespace ferrybox {

void EnterButton::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
  if (!enter && key != Qt::Key_Space && key != Qt::Key_Select) {
    QPushButton::keyPressEvent(event);
    return;
  }
  // A held key must not start run after run, nor press the button down
  // again for its next release to click: only its first press counts,
  // however the desktop marks the repeats.
  if (HeldKeys::Instance().IsRepeat(*event)) {
    event->accept();
    return;
  }
  if (!enter) {
    QPushButton::keyPressEvent(event);
    return;
  }
  click();
  event->accept();
}

}  // namespace ferrybox
