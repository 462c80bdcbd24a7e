// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/version.h"

namespace ferrybox {

std::string BuildVersionText(int major, int minor, int revision) {
  return std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(revision);
}

std::string ProgramVersionText() {
  return BuildVersionText(FERRYBOX_VERSION_MAJOR, FERRYBOX_VERSION_MINOR,
                          FERRYBOX_VERSION_REVISION);
}

}  // namespace ferrybox
