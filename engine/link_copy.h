// SPDX-License-Identifier: GPL-3.0-or-later
// Symbolic links below the roots, copied as links.
#ifndef FERRYBOX_ENGINE_LINK_COPY_H_
#define FERRYBOX_ENGINE_LINK_COPY_H_

#include <string>

#include "engine/destination_folders.h"
#include "platform/install_by_rename.h"
#include "platform/platform.h"

namespace ferrybox {

/// True when `destination` (looked up in `destination_dir` without
/// following) is a link with the same target text as the link `name` in
/// `source_dir`, whose status is `source`, and is stored under the same
/// name, letter case included. Times do not matter: a link is only its
/// text.
bool SameLink(Platform& platform, Handle source_dir, const std::string& name,
              const FileInfo& source, Handle destination_dir,
              const FileLookup& destination);

/// Recreates the link `source_name` in `source_dir` (never followed) as
/// `destination_name` in `destination_dir`, with the same target text, the
/// times `source` gives and, where the process may change owners, its owner
/// and group. The link is made under a new temporary name and renamed over
/// `destination_name` only when complete, replacing the entry itself
/// (file or link, never what a link points to); on any failure it is
/// removed and whatever stood at `destination_name` is left as it was. A
/// destination that cannot hold links fails with kErrorNoLinks, a source
/// that is no longer the link `source` describes with kErrorSourceChanged.
/// `replaced`, when given, keeps the entry the link replaces first.
/// Returns 0 or an errno value.
int CopyLinkAt(Platform& platform, Handle source_dir,
               const std::string& source_name, const FileInfo& source,
               Handle destination_dir, const std::string& destination_name,
               ReplacedEntry* replaced = nullptr);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_LINK_COPY_H_
