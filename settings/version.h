// SPDX-License-Identifier: GPL-3.0-or-later
// The program's version.
#ifndef FERRYBOX_SETTINGS_VERSION_H_
#define FERRYBOX_SETTINGS_VERSION_H_

#include <string>

namespace ferrybox {

/// "major.minor.revision", each in decimal without leading zeros.
std::string BuildVersionText(int major, int minor, int revision);

/// This program's version as text: "1.1.28".
std::string ProgramVersionText();

}  // namespace ferrybox

#endif  // FERRYBOX_SETTINGS_VERSION_H_
