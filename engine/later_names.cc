// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/later_names.h"

#include <algorithm>
#include <utility>

#include "engine/path_names.h"

namespace ferrybox {

LaterNames::LaterNames(Platform& platform,
                       const std::vector<std::string>& files,
                       std::string source_prefix, Handle source_root)
    : platform_(platform),
      files_(files),
      source_prefix_(std::move(source_prefix)),
      source_(platform) {
  root_error_ = source_.OpenRootAt(source_root);
}

bool LaterNames::Read(size_t after, const std::function<bool()>& keep_going) {
  if (root_error_ != 0) return true;
  for (size_t index = after + 1; index < files_.size(); ++index) {
    if (!keep_going()) return false;
    const std::string& path = files_[index];
    // A folder collected for itself, or a path outside the root, names no
    // file.
    if (path.empty() || path.back() == kSeparator ||
        !path.starts_with(source_prefix_))
      continue;
    const FolderAndName cut =
        SplitRelative(std::string_view(path).substr(source_prefix_.size()));
    FileInfo info;
    if (source_.MoveTo(cut.folder) != 0 ||
        platform_.Stat(source_.current(), std::string(cut.name), false,
                       &info) != 0 ||
        info.type != EntryType::kFile || info.links <= 1)
      continue;
    positions_[info.id].push_back(index);
  }
  return true;
}

std::vector<size_t> LaterNames::After(const FileId& id, size_t after) const {
  const auto found = positions_.find(id);
  if (found == positions_.end()) return {};
  const std::vector<size_t>& all = found->second;
  return std::vector<size_t>(std::upper_bound(all.begin(), all.end(), after),
                             all.end());
}

}  // namespace ferrybox
