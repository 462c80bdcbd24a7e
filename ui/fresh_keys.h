// SPDX-License-Identifier: GPL-3.0-or-later
// Keys held down: which presses only repeat a key, and which windows must
// not hear a key that was down before they opened.
#ifndef FERRYBOX_UI_FRESH_KEYS_H_
#define FERRYBOX_UI_FRESH_KEYS_H_

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <set>
#include <vector>

class QEvent;
class QKeyEvent;
class QWidget;

namespace ferrybox {

class FreshKeysOnly;

/// What the keyboard does, as the desktop reports it to the program's
/// windows. A held key comes as repeated presses; some desktops mark them
/// as such, an X server sends each repeat as a release and a press with one
/// timestamp that Qt marks only now and then. Both count as repeats here.
class HeldKeys : public QObject {
 public:
  /// The one instance, watching every window from its first call on: call
  /// it before any window takes keys.
  static HeldKeys& Instance();
  /// Sees every key again before any other application-wide filter, so
  /// that keys another filter holds back are followed as they come.
  void WatchFirst();

  /// Whether the press `event` only repeats a key held down: marked as a
  /// repeat, or following a release of the same key with the same
  /// non-zero timestamp.
  bool IsRepeat(const QKeyEvent& event) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class FreshKeysOnly;
  HeldKeys();

  static int64_t KeyOf(const QKeyEvent& event);

  // Keys down, by KeyOf.
  std::set<int64_t> down_;
  // The last release the desktop sent.
  int64_t released_key_ = 0;
  uint64_t released_at_ = 0;
  std::vector<FreshKeysOnly*> guards_;
};

/// Makes `window` and everything in it answer only keys pressed after it
/// opened (or after the last Open()): a repeated press never acts, and a
/// key already down acts only once it has been released and pressed again.
/// A child of `window`.
class FreshKeysOnly : public QObject {
 public:
  explicit FreshKeysOnly(QWidget* window);
  ~FreshKeysOnly() override;

  /// The window opens again: keys down now answer nothing until released.
  void Open();

 private:
  friend class HeldKeys;
  /// Whether `event`, sent to `watched`, must not reach the window.
  bool Takes(QObject* watched, QEvent* event);

  QWidget* window_;
  // Keys down when the window opened and not released since.
  std::set<int64_t> down_at_open_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_FRESH_KEYS_H_
