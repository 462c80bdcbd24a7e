// SPDX-License-Identifier: GPL-3.0-or-later
// Holding back a window's clicks and keys while it cannot take them.
#ifndef FERRYBOX_UI_INPUT_HOLD_H_
#define FERRYBOX_UI_INPUT_HOLD_H_

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

class QEvent;
class QWidget;

namespace ferrybox {

/// Handles pending events while the work under way in `window` cannot take
/// the user's input (a run's scan). Other windows' events and the window's
/// own events that are not user input (paint, timers, the desktop's
/// requests) are handled, and so is whatever must act at once: the request
/// to close the window, and a click on one of the `urgent` buttons (or
/// Space or Enter on the one with the focus). Every other click, key or
/// wheel turn on the window is held back until Release().
class InputHold : public QObject {
 public:
  /// A child of `window`; `urgent` are buttons inside it.
  InputHold(QWidget* window, std::vector<QWidget*> urgent);
  ~InputHold() override;

  /// Handles the pending events, holding back input as above.
  void ProcessEvents();
  /// Hands the input held back to the event loop, in its order, to be
  /// handled before anything that comes after it.
  void Release();
  /// Forgets the clicks held back on `control` (its mouse clicks, and Space
  /// or Enter while it had the focus): what ended the work overrides them.
  /// Other input held back stays.
  void DropClicksOn(const QWidget* control);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  /// Whether `event`, sent to `watched`, is user input for the window.
  bool IsInput(QObject* watched, QEvent* event) const;
  /// Whether input `event` must be handled now rather than held back.
  bool ActsNow(QEvent* event);
  bool IsUrgent(const QWidget* widget) const;

  QWidget* window_;
  std::vector<QWidget*> urgent_;
  // ProcessEvents calls under way (a dialog may run its own loop inside).
  int holding_ = 0;
  // The mouse button pressed first since all were released: let through
  // (a click on an urgent button in progress), held back, or none.
  enum class Press { kNone, kLetThrough, kHeld } press_ = Press::kNone;
  // Once one key is held back, later keys wait behind it.
  bool keys_held_ = false;
  struct Held {
    QPointer<QObject> receiver;
    std::unique_ptr<QEvent> event;
    // The control the event would click, or null.
    const QWidget* clicks = nullptr;
  };
  /// The control that `event` would click, or null.
  const QWidget* ClickTarget(QEvent* event) const;

  std::vector<Held> held_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_INPUT_HOLD_H_
