// SPDX-License-Identifier: GPL-3.0-or-later
// The roles under which assistive technology presents the program's windows.
#ifndef FERRYBOX_UI_WINDOW_ROLES_H_
#define FERRYBOX_UI_WINDOW_ROLES_H_

namespace ferrybox {

/// Makes Form1 a window (a frame, in desktop terms) and Form9 a dialog. A
/// top-level plain widget would otherwise be a nameless filler, which a
/// screen reader does not present as a window, and a dialog's message is
/// read out when the dialog opens. Once is enough; call before the first
/// Form1 is made.
void InstallWindowRoles();

}  // namespace ferrybox

#endif  // FERRYBOX_UI_WINDOW_ROLES_H_
