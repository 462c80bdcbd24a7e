// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/fresh_keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>

namespace ferrybox {

FreshKeysOnly::FreshKeysOnly(QWidget* window)
    : QObject(window), window_(window) {
  // On the application: a key reaches the native window, the widget with
  // the focus and the window's shortcuts, each first.
  qApp->installEventFilter(this);
}

bool FreshKeysOnly::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress &&
      event->type() != QEvent::ShortcutOverride)
    return false;
  if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) return false;
  const auto* widget = qobject_cast<QWidget*>(watched);
  if (widget != nullptr ? widget->window() != window_
                        : watched != window_->windowHandle())
    return false;
  // Taken, so that no shortcut sees it either.
  event->accept();
  return true;
}

}  // namespace ferrybox
