// SPDX-License-Identifier: GPL-3.0-or-later
// A push button that the keyboard's Enter keys click.
#ifndef FERRYBOX_UI_ENTER_BUTTON_H_
#define FERRYBOX_UI_ENTER_BUTTON_H_

#include <QPushButton>

namespace ferrybox {

/// A QPushButton that, while it has the focus, is clicked by Return and by
/// the keypad's Enter as well as by Space, as buttons are on a Linux
/// desktop. Outside a dialog Qt gives Enter to no button. A held key
/// clicks once.
class EnterButton : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UI_ENTER_BUTTON_H_
