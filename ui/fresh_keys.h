// SPDX-License-Identifier: GPL-3.0-or-later
// Keys held down since before a window opened answer nothing in it.
#ifndef FERRYBOX_UI_FRESH_KEYS_H_
#define FERRYBOX_UI_FRESH_KEYS_H_

#include <QObject>

class QEvent;
class QWidget;

namespace ferrybox {

/// Makes `window` and everything in it ignore auto-repeated key presses, so
/// that a key held down (the Enter that opened a question) cannot answer it
/// unseen: only a fresh press acts. A child of `window`.
class FreshKeysOnly : public QObject {
 public:
  explicit FreshKeysOnly(QWidget* window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_FRESH_KEYS_H_
