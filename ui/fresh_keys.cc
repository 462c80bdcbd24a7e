// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/fresh_keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace ferrybox {

HeldKeys& HeldKeys::Instance() {
  static HeldKeys* const keys = new HeldKeys();
  return *keys;
}

HeldKeys::HeldKeys() : QObject(qApp) {
  // On the application: a key reaches the native window, the widget with
  // the focus and the window's shortcuts, each first.
  qApp->installEventFilter(this);
  // Keys released while another program has the keyboard are never heard.
  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState state) {
            if (state != Qt::ApplicationActive) down_.clear();
          });
}

void HeldKeys::WatchFirst() {
  // The filter installed last runs first.
  qApp->installEventFilter(this);
}

int64_t HeldKeys::KeyOf(const QKeyEvent& event) {
  // The physical key where the desktop names it: a held key's text may
  // change with the modifiers.
  if (event.nativeScanCode() != 0)
    return (int64_t{1} << 40) | event.nativeScanCode();
  return event.key();
}

bool HeldKeys::IsRepeat(const QKeyEvent& event) const {
  if (event.isAutoRepeat()) return true;
  return event.timestamp() != 0 && event.timestamp() == released_at_ &&
         KeyOf(event) == released_key_;
}

bool HeldKeys::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::KeyRelease &&
      type != QEvent::ShortcutOverride)
    return false;
  bool taken = false;
  for (FreshKeysOnly* guard : guards_)
    taken = guard->Takes(watched, event) || taken;
  // What the desktop sends reaches a native window first; a key sent on
  // to widgets is the same key. A key taken from a window is still down.
  if (type != QEvent::ShortcutOverride && watched->isWindowType()) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (type == QEvent::KeyPress) {
      down_.insert(KeyOf(*key));
    } else if (!key->isAutoRepeat()) {
      down_.erase(KeyOf(*key));
      released_key_ = KeyOf(*key);
      released_at_ = key->timestamp();
    }
  }
  // Taken, so that no shortcut sees it either.
  if (taken) event->accept();
  return taken;
}

FreshKeysOnly::FreshKeysOnly(QWidget* window)
    : QObject(window), window_(window) {
  HeldKeys::Instance().guards_.push_back(this);
  Open();
}

FreshKeysOnly::~FreshKeysOnly() {
  auto& guards = HeldKeys::Instance().guards_;
  guards.erase(std::remove(guards.begin(), guards.end(), this), guards.end());
}

void FreshKeysOnly::Open() { down_at_open_ = HeldKeys::Instance().down_; }

bool FreshKeysOnly::Takes(QObject* watched, QEvent* event) {
  const auto* widget = qobject_cast<QWidget*>(watched);
  if (widget != nullptr ? widget->window() != window_
                        : watched != window_->windowHandle())
    return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  const int64_t which = HeldKeys::KeyOf(*key);
  if (event->type() == QEvent::KeyRelease) {
    // A release may be the first half of a repeat; the press that follows
    // it says so.
    if (!key->isAutoRepeat()) down_at_open_.erase(which);
    return false;
  }
  return HeldKeys::Instance().IsRepeat(*key) || down_at_open_.count(which) > 0;
}

}  // namespace ferrybox
