// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/enter_button.h"

#include <QKeyEvent>

namespace ferrybox {

void EnterButton::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
    QPushButton::keyPressEvent(event);
    return;
  }
  // A held Enter on "Go" must not start run after run.
  if (!event->isAutoRepeat()) click();
  event->accept();
}

}  // namespace ferrybox
