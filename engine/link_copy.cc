// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/link_copy.h"

#include <errno.h>

#include "engine/keep_owner.h"
#include "platform/failure.h"
#include "platform/scoped_handle.h"
#include "platform/temp_name.h"

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
               Handle destination_dir, const std::string& destination_name) {
  std::string target;
  int error =
      ReadSourceLink(platform, source_dir, source_name, source, &target);
  if (error != 0) return error;

  ScopedHandle link(platform);
  std::string temp_name;
  error = WithNewTempName(&temp_name, [&](const std::string& name) {
    return platform.MakeLink(destination_dir, name, target, link.out());
  });
  if (NoLinksHere(error)) return kErrorNoLinks;
  if (error != 0) return error;

  error = KeepOwner(platform, link.get(), "", source);
  if (error == 0) {
    FileTime stored_mtime;
    error = platform.SetTimes(link.get(), "", source.atime, source.mtime,
                              &stored_mtime);
    // Times are all a link keeps beside its text; an incremental run does
    // not compare them, so a file system that keeps none fails nothing.
    if (AttributeRefused(error)) error = 0;
  }
  link.reset();
  if (error == 0)
    error = platform.Rename(destination_dir, temp_name, destination_name);
  if (error != 0) platform.Remove(destination_dir, temp_name);
  return error;
}

}  // namespace ferrybox
