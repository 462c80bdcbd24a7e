// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/file_system.h"

#include "engine/copy_failure.h"

namespace ferrybox {

std::string FileError::Text() const {
  return call + " " + path + ": " + ErrorText(error);
}

}  // namespace ferrybox
