// SPDX-License-Identifier: GPL-3.0-or-later
// The folder picker behind "Source:" and "Destination:".
#ifndef FERRYBOX_UI_BROWSE_FOLDER_H_
#define FERRYBOX_UI_BROWSE_FOLDER_H_

#include <string>

namespace ferrybox {

class Dialogs;

/// Shows the folder dialog, titled "This is the title" and opened at the
/// home folder every time, and returns the chosen folder's path as the
/// bytes of its name, or "" when the user cancelled. The path is not tested
/// in any way.
std::string BrowseFolder(Dialogs& dialogs);

}  // namespace ferrybox

#endif  // FERRYBOX_UI_BROWSE_FOLDER_H_
