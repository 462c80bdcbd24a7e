// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/keep_owner.h"

#include <errno.h>

namespace ferrybox {

bool AttributeRefused(int error) {
  return error == EPERM || error == EINVAL || error == ENOSYS ||
         error == EOPNOTSUPP || error == ENOTSUP;
}

int KeepOwner(Platform& platform, Handle dir, const std::string& name,
              const FileInfo& source) {
  if (!platform.MayChangeOwners()) return 0;
  const int error = platform.SetOwner(dir, name, source.owner, source.group);
  return AttributeRefused(error) ? 0 : error;
}

}  // namespace ferrybox
