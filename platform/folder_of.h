// SPDX-License-Identifier: GPL-3.0-or-later
// The folder a path names a file in.
#ifndef FERRYBOX_PLATFORM_FOLDER_OF_H_
#define FERRYBOX_PLATFORM_FOLDER_OF_H_

#include <string>
#include <string_view>

namespace ferrybox {

/// The folder that holds `path`: all before its last "/", "/" for a name in
/// the root ("/x"), "." for a bare name (one in the working folder).
std::string FolderOf(std::string_view path);

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_FOLDER_OF_H_
