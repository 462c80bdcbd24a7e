// Copying one file so that the earlier copy survives any failure.
#ifndef FERRYBOX_ENGINE_FILE_COPY_H_
#define FERRYBOX_ENGINE_FILE_COPY_H_

#include <cstdint>
#include <string>

#include "engine/platform.h"

namespace ferrybox {

/// What a successful copy wrote.
struct CopyResult {
  /// The last-modified time the destination's file system stored; it may be
  /// coarser than the source's.
  FileTime stored_mtime;
};

/// Copies `source_name` in the folder `source_dir` (a link is followed) to
/// `destination_name` in the folder `destination_dir`, with its content (its
/// holes left as holes where the destination can make them), permission
/// bits and times as `source` (the status read before the copy) gives them,
/// and its owner and group where the process may change owners; a
/// set-user-id or set-group-id bit is dropped where the copy's owner or
/// group differs from the source's. The copy is written under a new
/// temporary name, created exclusively and readable by the owner only, and
/// renamed over `destination_name` only when complete; on any failure the
/// temporary file is removed and whatever stood at `destination_name` is left
/// as it was. A copy that may mix two versions of the source fails, as
/// SourceWatch tells. Returns 0, an errno value or an EngineError.
int CopyFileAt(Platform& platform, Handle source_dir,
               const std::string& source_name, const FileInfo& source,
               Handle destination_dir, const std::string& destination_name,
               CopyResult* result);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_FILE_COPY_H_
