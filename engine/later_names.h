// SPDX-License-Identifier: GPL-3.0-or-later
// Where the names of a file with several names come later in a run.
#ifndef FERRYBOX_ENGINE_LATER_NAMES_H_
#define FERRYBOX_ENGINE_LATER_NAMES_H_

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/folder_cursor.h"
#include "platform/platform.h"

namespace ferrybox {

/// The positions in a run's collected list of the names of every source file
/// that has more than one, read by one pass over the statuses of the files
/// after a given one (links not followed). Only such files are kept, so a
/// tree without hard links costs a pass and no memory.
class LaterNames {
 public:
  /// `files` is the run's collected list, every path in it starting with
  /// `source_prefix` (the source root with its trailing separator), open as
  /// `source_root`. `files` and `platform` outlive this.
  LaterNames(Platform& platform, const std::vector<std::string>& files,
             std::string source_prefix, Handle source_root);

  /// Reads the statuses of the files after position `after`, asking
  /// `keep_going` after each (it handles the window's events when they are
  /// due); false when it said no, and then the pass ended there.
  bool Read(size_t after, const std::function<bool()>& keep_going);

  /// The positions after `after`, in order, of the names found by Read of
  /// the file `id`; none when it has no name there, or a single one only.
  std::vector<size_t> After(const FileId& id, size_t after) const;

 private:
  struct IdHash {
    size_t operator()(const FileId& id) const {
      return std::hash<uint64_t>()(id.inode * 31 + id.device);
    }
  };

  Platform& platform_;
  const std::vector<std::string>& files_;
  const std::string source_prefix_;
  FolderCursor source_;
  int root_error_ = 0;
  std::unordered_map<FileId, std::vector<size_t>, IdHash> positions_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_LATER_NAMES_H_
