// SPDX-License-Identifier: GPL-3.0-or-later
// Replacing a whole file so that it is never found half written.
#ifndef FERRYBOX_PLATFORM_ATOMIC_FILE_H_
#define FERRYBOX_PLATFORM_ATOMIC_FILE_H_

#include <string>
#include <string_view>

#include "platform/failure.h"
#include "platform/platform.h"

namespace ferrybox {

/// Makes `content` the content of the file `path`. The content goes to a
/// new file in the same folder under a temporary name (NewTempName, so that
/// scans skip it and a stale one is known as unfinished), is flushed to the
/// disk, and only then renamed over `path`: after a failure, a crash or a
/// power cut, `path` holds either its earlier content or all of the new.
/// On failure the temporary file is removed and the result names the call
/// that failed, the path it was given and its errno value.
[[nodiscard]] Failure WriteFileAtomically(Platform& files,
                                          const std::string& path,
                                          std::string_view content);

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_ATOMIC_FILE_H_
