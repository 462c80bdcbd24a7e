// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/destination_root.h"

#include <errno.h>

#include <algorithm>

#include "engine/folder_walk.h"
#include "engine/path_names.h"
#include "platform/failure.h"

namespace ferrybox {

DestinationRoot::DestinationRoot(Platform& platform, HeldRoots& held)
    : platform_(platform), held_(held), folder_(platform) {}

DestinationRoot::~DestinationRoot() {
  if (!locked_) return;
  auto it = std::find(held_.begin(), held_.end(), id_);
  if (it != held_.end()) held_.erase(it);
}

int DestinationRoot::Resolve(const std::string& path,
                             const std::function<bool()>* keep_going) {
  missing_.clear();
  const bool absolute = !path.empty() && path[0] == kSeparator;
  error_ = platform_.Open(kWorkingFolder, absolute ? "/" : ".",
                          OpenMode::kFolder, folder_.out());
  size_t pos = 0;
  while (error_ == 0 && pos < path.size()) {
    size_t end = path.find(kSeparator, pos);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(pos, end - pos);
    pos = end + 1;
    if (name.empty() || name == ".") continue;
    if (!missing_.empty()) {
      // Below a missing level: ".." leads back up to the folder made last.
      if (name == "..") {
        missing_.pop_back();
      } else {
        missing_.push_back(name);
      }
      continue;
    }
    // Each level may be a round trip to a slow share.
    if (StopAsked(keep_going)) {
      error_ = kErrorStopped;
      break;
    }
    Handle next = kNoHandle;
    const int error =
        platform_.Open(folder_.get(), name, OpenMode::kFolder, &next);
    if (error == ENOENT && name != "..") {
      missing_.push_back(name);
    } else if (error != 0) {
      error_ = error;
    } else {
      folder_.reset(next);
    }
  }
  if (error_ == 0) {
    FileInfo info;
    error_ = platform_.Stat(folder_.get(), "", true, &info);
    id_ = info.id;
  }
  return error_;
}

int DestinationRoot::Create(const std::function<bool()>* keep_going) {
  if (error_ != 0) return error_;
  if (!missing_.empty()) {
    std::string above;
    for (size_t i = 0; i + 1 < missing_.size(); ++i)
      above += missing_[i] + kSeparator;
    ScopedHandle parent(platform_);
    Handle root = kNoHandle;
    // Missing a moment ago: a link found there now was not put there by
    // the user, and is not followed. The root itself is made open to its
    // owner only, as every folder of the backup is until it is done.
    int error =
        WalkFolders(platform_, folder_.get(), above,
                    WalkRules{.create_missing = true, .keep_going = keep_going},
                    parent.out());
    if (error == 0)
      error = WalkFolders(platform_, parent.get(), missing_.back(),
                          WalkRules{.create_missing = true,
                                    .owner_only = true,
                                    .keep_going = keep_going},
                          &root);
    if (error != 0) return error;
    ScopedHandle made(platform_, root);
    // Stopped while the root was made: it stays missing to this run, which
    // then has nothing to finish or flush there.
    if (StopAsked(keep_going)) return kErrorStopped;
    folder_.reset(made.release());
    missing_.clear();
    FileInfo info;
    if (const int stat_error = platform_.Stat(root, "", true, &info))
      return stat_error;
    id_ = info.id;
  }
  return Lock();
}

int DestinationRoot::Lock() {
  if (locked_ || std::find(held_.begin(), held_.end(), id_) != held_.end())
    return 0;
  const int error = platform_.LockFolder(folder_.get());
  if (error == EWOULDBLOCK) return error;
  // A file system without locks cannot keep two runs apart; the run goes
  // on as it did before there were locks.
  if (error != 0) return 0;
  held_.push_back(id_);
  locked_ = true;
  return 0;
}

namespace {
bool Before(const SourceFolder& a, const SourceFolder& b) {
  return a.id.device != b.id.device ? a.id.device < b.id.device
                                    : a.id.inode < b.id.inode;
}
}  // namespace

void DestinationRoot::SetSourceFolders(std::vector<SourceFolder> folders) {
  std::sort(folders.begin(), folders.end(), Before);
  source_folders_ = std::move(folders);
}

int DestinationRoot::CheckNotSource(Handle folder) const {
  if (source_folders_.empty()) return 0;
  SourceFolder here;
  // A folder that cannot be looked at fails where it is used.
  FileInfo info;
  if (platform_.Stat(folder, "", false, &info) != 0) return 0;
  here.id = info.id;
  const auto [first, last] = std::equal_range(
      source_folders_.begin(), source_folders_.end(), here, Before);
  for (auto it = first; it != last; ++it) {
    // Still that source folder: one removed since the scan may have passed
    // its number on to a folder made since.
    FileInfo source;
    if (platform_.Stat(kWorkingFolder, it->path, false, &source) == 0 &&
        source.id == info.id)
      return kErrorDestinationIsSource;
  }
  return 0;
}

}  // namespace ferrybox
