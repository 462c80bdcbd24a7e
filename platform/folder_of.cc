// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/folder_of.h"

namespace ferrybox {

std::string FolderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

}  // namespace ferrybox
