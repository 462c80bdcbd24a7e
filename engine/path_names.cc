// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/path_names.h"

namespace ferrybox {

std::string TrailingSlash(const std::string& strFolder) {
  if (strFolder.empty() || strFolder.back() == kSeparator) return strFolder;
  return strFolder + kSeparator;
}

std::string JoinedPath(std::string_view folder, std::string_view name) {
  std::string path;
  path.reserve(folder.size() + name.size());
  path.append(folder).append(name);
  return path;
}

int lastslash(std::string_view fname) {
  const size_t pos = fname.rfind(kSeparator);
  return pos == std::string_view::npos ? 0 : static_cast<int>(pos) + 1;
}

FolderAndName SplitRelative(std::string_view relative) {
  const size_t cut = static_cast<size_t>(lastslash(relative));
  return {relative.substr(0, cut == 0 ? 0 : cut - 1), relative.substr(cut)};
}

}  // namespace ferrybox
