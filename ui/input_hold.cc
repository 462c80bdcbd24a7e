// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/input_hold.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>

#include "ui/fresh_keys.h"

namespace ferrybox {
namespace {

// The keys that click the button with the focus.
bool IsClickKey(int key) {
  return key == Qt::Key_Space || key == Qt::Key_Select ||
         key == Qt::Key_Return || key == Qt::Key_Enter;
}

// A copy of `event` to hand on later. A press that repeats a held key is
// marked as a repeat: the release before it will no longer be the last.
std::unique_ptr<QEvent> HeldCopy(QEvent* event) {
  if (event->type() != QEvent::KeyPress)
    return std::unique_ptr<QEvent>(event->clone());
  const auto* key = static_cast<QKeyEvent*>(event);
  auto copy = std::make_unique<QKeyEvent>(
      key->type(), key->key(), key->modifiers(), key->nativeScanCode(),
      key->nativeVirtualKey(), key->nativeModifiers(), key->text(),
      HeldKeys::Instance().IsRepeat(*key), key->count(), key->device());
  copy->setTimestamp(key->timestamp());
  return copy;
}

}  // namespace

InputHold::InputHold(QWidget* window, std::vector<QWidget*> urgent)
    : QObject(window), window_(window), urgent_(std::move(urgent)) {
  // On the application: keys and clicks reach the window's native window
  // first, and typed text may go straight to the widget with the focus.
  qApp->installEventFilter(this);
}

InputHold::~InputHold() = default;

void InputHold::ProcessEvents() {
  ++holding_;
  QApplication::processEvents();
  --holding_;
}

void InputHold::Release() {
  press_ = Press::kNone;
  keys_held_ = false;
  // Posted events are delivered in the order they were posted, before the
  // window system's events that come after them.
  for (Held& held : held_)
    if (held.receiver)
      QCoreApplication::postEvent(held.receiver, held.event.release());
  held_.clear();
}

void InputHold::DropClicksOn(const QWidget* control) {
  std::erase_if(held_,
                [control](const Held& held) { return held.clicks == control; });
}

bool InputHold::eventFilter(QObject* watched, QEvent* event) {
  if (holding_ == 0 || !IsInput(watched, event) || ActsNow(event)) return false;
  // A key goes where it was typed, though a click let through since (on
  // "Stop") may have moved the focus.
  QObject* receiver = watched;
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
    if (QWidget* focus = QApplication::focusWidget()) receiver = focus;
  held_.push_back({receiver, HeldCopy(event), ClickTarget(event)});
  return true;
}

const QWidget* InputHold::ClickTarget(QEvent* event) const {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
      return window_->childAt(
          static_cast<QMouseEvent*>(event)->position().toPoint());
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
      return IsClickKey(static_cast<QKeyEvent*>(event)->key())
                 ? QApplication::focusWidget()
                 : nullptr;
    default:
      return nullptr;
  }
}

bool InputHold::IsInput(QObject* watched, QEvent* event) const {
  if (event->type() == QEvent::InputMethod) {
    const auto* widget = qobject_cast<QWidget*>(watched);
    return widget != nullptr && widget->window() == window_;
  }
  if (watched != window_->windowHandle()) return false;
  switch (event->type()) {
    case QEvent::Close:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
      return true;
    default:
      return false;
  }
}

bool InputHold::ActsNow(QEvent* event) {
  switch (event->type()) {
    case QEvent::Close:
      return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      if (press_ == Press::kNone) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        press_ = mouse->button() == Qt::LeftButton &&
                         IsUrgent(window_->childAt(mouse->position().toPoint()))
                     ? Press::kLetThrough
                     : Press::kHeld;
      }
      return press_ == Press::kLetThrough;
    }
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove: {
      // A move with no button down only hovers.
      const bool now = press_ != Press::kHeld;
      if (static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton)
        press_ = Press::kNone;
      return now;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      const bool clicks = IsClickKey(static_cast<QKeyEvent*>(event)->key());
      if (!keys_held_ && clicks && IsUrgent(QApplication::focusWidget()))
        return true;
      keys_held_ = true;
      return false;
    }
    case QEvent::InputMethod:
      keys_held_ = true;
      return false;
    default:
      return false;
  }
}

bool InputHold::IsUrgent(const QWidget* widget) const {
  return widget != nullptr &&
         std::find(urgent_.begin(), urgent_.end(), widget) != urgent_.end();
}

}  // namespace ferrybox
