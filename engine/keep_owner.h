// SPDX-License-Identifier: GPL-3.0-or-later
// Copies that keep their source's owner and group when root makes them.
#ifndef FERRYBOX_ENGINE_KEEP_OWNER_H_
#define FERRYBOX_ENGINE_KEEP_OWNER_H_

#include <string>

#include "platform/platform.h"

namespace ferrybox {

/// True when `error` means that a file system refuses to keep an attribute
/// (an owner, permission bits, times) at all: FAT and exFAT keep no owners,
/// FAT through FUSE no permission bits, and a share may map every owner to
/// one. A copy stays good without it.
bool AttributeRefused(int error);

/// Where the process may change owners (it runs as root), gives `name` in
/// `dir` (an empty `name`: `dir` itself) the owner and group of `source`,
/// never following a link. Must come before the permission bits are set:
/// a change of owner clears set-id bits. A refusal is no failure. Returns 0
/// or an errno value.
int KeepOwner(Platform& platform, Handle dir, const std::string& name,
              const FileInfo& source);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_KEEP_OWNER_H_
