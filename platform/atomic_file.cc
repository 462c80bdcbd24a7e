// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/atomic_file.h"

#include <errno.h>

#include "platform/folder_of.h"
#include "platform/temp_name.h"

namespace ferrybox {
FileError WriteFileAtomically(Platform& files, const std::string& path,
                              std::string_view content) {
  // A file in the root gets "/name" beside it, not "//name".
  std::string folder = FolderOf(path);
  if (folder == "/") folder.clear();
  std::string temporary;
  Handle file = -1;
  std::string name;
  int error = WithNewTempName(&name, [&](const std::string& candidate) {
    temporary = folder + "/" + candidate;
    return files.OpenForWriting(temporary, WriteMode::kCreateExclusive, &file);
  });
  if (error != 0) return {"open", temporary, error};

  FileError failure;
  if (int written = files.Write(file, content); written != 0) {
    failure = {"write", temporary, written};
  } else if (int synced = files.Sync(file); synced != 0) {
    // Without the flush, a power cut soon after the rename can leave the
    // new name on an empty file: the earlier content lost with the new.
    failure = {"fsync", temporary, synced};
  }
  if (int closed = files.Close(file); closed != 0 && failure.ok())
    failure = {"close", temporary, closed};
  if (failure.ok()) {
    if (int renamed = files.Rename(kWorkingFolder, temporary, path);
        renamed != 0)
      failure = {"rename", path, renamed};
  }
  if (!failure.ok()) files.Remove(kWorkingFolder, temporary);
  return failure;
}

}  // namespace ferrybox
