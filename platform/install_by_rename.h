// SPDX-License-Identifier: GPL-3.0-or-later
// Putting a new file or link in place whole: made under a temporary name
// beside its place, filled, then renamed over it.
#ifndef FERRYBOX_PLATFORM_INSTALL_BY_RENAME_H_
#define FERRYBOX_PLATFORM_INSTALL_BY_RENAME_H_

#include <string>

#include "platform/failure.h"
#include "platform/platform.h"
#include "platform/scoped_handle.h"
#include "platform/temp_name.h"

namespace ferrybox {

/// What an install does with the entry it is about to replace: keeps it
/// somewhere else first, when asked to.
class ReplacedEntry {
 public:
  virtual ~ReplacedEntry() = default;
  /// Called once the new entry is whole under `temporary` and closed, just
  /// before it is renamed over `name`, both in `dir`. Returns 0, or why the
  /// earlier entry could not be kept: the install then stops, the earlier
  /// entry left at `name`.
  [[nodiscard]] virtual int Keep(Handle dir, const std::string& temporary,
                                 const std::string& name) = 0;
  /// The rename after a successful Keep failed: puts back at `name` what
  /// Keep moved away, if it moved anything.
  virtual void Restore(Handle dir, const std::string& name) = 0;
};

/// Puts a new entry at `name` in the folder `dir` (a whole path with
/// kWorkingFolder). `create(temporary, &handle)` makes it exclusively under
/// a new temporary name (NewTempName, so that scans skip it and a stale one
/// is known as unfinished) in the same folder as `name`, and returns 0 or an
/// errno value; `fill(handle, temporary)` writes and flushes what the caller
/// needs, and returns a Failure (ok when all went well). The handle is then
/// closed and the entry renamed over `name`: whoever looks finds the earlier
/// entry or all of the new one, and a kill leaves at most this one
/// temporary entry behind. On any failure the temporary entry is removed;
/// the result names the call that failed ("open", "close", "keep",
/// "rename" or fill's own), the path it was given and why. `replaced`, when
/// given, keeps the entry at `name` before the rename.
template <typename Create, typename Fill>
[[nodiscard]] Failure InstallByRename(Platform& platform, Handle dir,
                                      const std::string& name, Create create,
                                      Fill fill,
                                      ReplacedEntry* replaced = nullptr) {
  const size_t slash = name.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "" : name.substr(0, slash + 1);
  std::string temporary;
  ScopedHandle entry(platform);
  std::string candidate;
  const int error = WithNewTempName(&candidate, [&](const std::string& temp) {
    temporary = folder + temp;
    return create(temporary, entry.out());
  });
  if (error != 0)
    return Failure{.call = "open", .path = temporary, .error = error};

  Failure failure = fill(entry.get(), temporary);
  if (const int closed = entry.reset(); closed != 0 && failure.ok())
    failure = Failure{.call = "close", .path = temporary, .error = closed};
  if (failure.ok() && replaced != nullptr) {
    if (const int kept = replaced->Keep(dir, temporary, name); kept != 0)
      failure = Failure{.call = "keep", .path = name, .error = kept};
  }
  if (failure.ok()) {
    if (const int renamed = platform.Rename(dir, temporary, name);
        renamed != 0) {
      failure = Failure{.call = "rename", .path = name, .error = renamed};
      if (replaced != nullptr) replaced->Restore(dir, name);
    }
  }
  if (!failure.ok()) platform.Remove(dir, temporary);
  return failure;
}

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_INSTALL_BY_RENAME_H_
