// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/atomic_file.h"

#include "platform/install_by_rename.h"

namespace ferrybox {
Failure WriteFileAtomically(Platform& files, const std::string& path,
                            std::string_view content) {
  return InstallByRename(
      files, kWorkingFolder, path,
      [&](const std::string& temporary, Handle* file) {
        return files.OpenForWriting(temporary, WriteMode::kCreateExclusive,
                                    file);
      },
      [&](Handle file, const std::string& temporary) {
        if (int written = files.Write(file, content); written != 0)
          return Failure{.call = "write", .path = temporary, .error = written};
        // Without the flush, a power cut soon after the rename can leave the
        // new name on an empty file: the earlier content lost with the new.
        if (int synced = files.Sync(file); synced != 0)
          return Failure{.call = "fsync", .path = temporary, .error = synced};
        return Failure{};
      });
}

}  // namespace ferrybox
