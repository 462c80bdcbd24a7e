// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/link_copy.h"

#include <errno.h>

#include "engine/keep_owner.h"
#include "platform/failure.h"
#include "platform/install_by_rename.h"

namespace ferrybox {
namespace {

// The target text of the source link, which must still be the link the
// status was read from (its length is its text's).
int ReadSourceLink(Platform& platform, Handle dir, const std::string& name,
                   const FileInfo& source, std::string* target) {
  const int error = platform.ReadLink(dir, name, target);
  if (error == EINVAL) return kErrorSourceChanged;  // no longer a link
  if (error != 0) return error;
  if (static_cast<int64_t>(target->size()) != source.size)
    return kErrorSourceChanged;
  return 0;
}

// FAT and exFAT have no links: Linux's own FAT says EPERM, FUSE ENOSYS.
bool NoLinksHere(int error) {
  return error == EPERM || error == ENOSYS || error == EOPNOTSUPP ||
         error == ENOTSUP;
}

}  // namespace

bool SameLink(Platform& platform, Handle source_dir, const std::string& name,
              const FileInfo& source, Handle destination_dir,
              const FileLookup& destination) {
  if (!destination.found || destination.info.type != EntryType::kLink ||
      destination.info.size != source.size || destination.stored_name != name)
    return false;
  std::string source_target;
  std::string destination_target;
  return ReadSourceLink(platform, source_dir, name, source, &source_target) ==
             0 &&
         platform.ReadLink(destination_dir, name, &destination_target) == 0 &&
         source_target == destination_target;
}

int CopyLinkAt(Platform& platform, Handle source_dir,
               const std::string& source_name, const FileInfo& source,
               Handle destination_dir, const std::string& destination_name,
               ReplacedEntry* replaced) {
  std::string target;
  int error =
      ReadSourceLink(platform, source_dir, source_name, source, &target);
  if (error != 0) return error;

  const Failure failure = InstallByRename(
      platform, destination_dir, destination_name,
      [&](const std::string& temporary, Handle* link) {
        const int made =
            platform.MakeLink(destination_dir, temporary, target, link);
        return NoLinksHere(made) ? kErrorNoLinks : made;
      },
      [&](Handle link, const std::string&) {
        int kept = KeepOwner(platform, link, "", source);
        if (kept == 0) {
          kept =
              platform.SetTimes(link, "", source.atime, source.mtime, nullptr);
          // Times are all a link keeps beside its text; an incremental run
          // does not compare them, so a file system that keeps none fails
          // nothing.
          if (AttributeRefused(kept)) kept = 0;
        }
        return Failure{.error = kept};
      },
      replaced);
  return failure.error;
}

}  // namespace ferrybox
