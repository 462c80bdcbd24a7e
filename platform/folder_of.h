// SPDX-License-Identifier: GPL-3.0-or-later
// The folder a path names a file in, and making the levels of a path.
#ifndef FERRYBOX_PLATFORM_FOLDER_OF_H_
#define FERRYBOX_PLATFORM_FOLDER_OF_H_

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace ferrybox {

/// The folder that holds `path`: all before its last "/", "/" for a name in
/// the root ("/x"), "." for a bare name (one in the working folder).
std::string FolderOf(std::string_view path);

/// Makes each missing level of the absolute `folder` from the top down,
/// open to its owner only when `owner_only`. Levels that exist are left as
/// they are; a level that cannot be made is not reported: the deeper ones
/// then fail too, and whoever uses the folder reports what matters.
void MakeMissingLevels(Platform& files, const std::string& folder,
                       bool owner_only);

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_FOLDER_OF_H_
