// SPDX-License-Identifier: GPL-3.0-or-later
// Creating a folder and every missing level above it.
#ifndef FERRYBOX_ENGINE_MKDIRS_H_
#define FERRYBOX_ENGINE_MKDIRS_H_

#include <string>

#include "platform/platform.h"

namespace ferrybox {

/// Creates each missing level of the folder `PathIn`, from the top down,
/// following links as the path names them. "/" and levels that exist are
/// never created. Returns 0, or the errno value of the first level that
/// cannot be created (or passed through, such as a file in the way); deeper
/// levels are then not attempted.
int MkDirs(Platform& platform, std::string PathIn);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_MKDIRS_H_
