// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_system.h"

#include "platform/failure.h"

namespace ferrybox {

std::string FileError::Text() const {
  return call + " " + path + ": " + ErrorText(error);
}

}  // namespace ferrybox
