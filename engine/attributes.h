// SPDX-License-Identifier: GPL-3.0-or-later
// Extended attributes, access control lists and file capabilities among
// them, carried from a source entry to its copy.
#ifndef FERRYBOX_ENGINE_ATTRIBUTES_H_
#define FERRYBOX_ENGINE_ATTRIBUTES_H_

#include <string>
#include <vector>

#include "platform/platform.h"

namespace ferrybox {

/// One extended attribute: its full name ("user.origin",
/// "system.posix_acl_access") and its value as bytes.
struct Attribute {
  std::string name;
  std::string value;
  bool operator==(const Attribute&) const = default;
};
using Attributes = std::vector<Attribute>;

/// The extended attributes of `name` in `dir` (an empty name: `dir` itself),
/// never following a link; none where the file system keeps none. Returns 0
/// or an errno value.
int ReadAttributes(Platform& platform, Handle dir, const std::string& name,
                   Attributes* attributes);

/// Gives `name` in `dir` exactly `attributes` of the kinds a copy carries,
/// as CopyAttributes does.
int WriteAttributes(Platform& platform, Handle dir, const std::string& name,
                    const Attributes& attributes,
                    std::string* failed = nullptr);

/// Gives `destination_name` in `destination_dir` (an empty name: the folder
/// itself) the extended attributes of `source_name` in `source_dir`, byte
/// for byte: every one the source has is added or replaced where it
/// differs, and those of the kinds a copy carries (user and trusted
/// attributes, access control lists, file capabilities) that the source
/// lacks are removed, such as an access control list inherited from the
/// destination folder's default. Neither entry is followed when it is a
/// link. Comes after the owner and the permission bits are set: a change of
/// owner clears a file capability, and a change of bits recomputes an
/// access control list's mask. A file system that keeps no attributes, or
/// refuses one (FAT, exFAT, a trusted attribute without the privilege), is
/// no failure. `destination_bare` tells that the destination holds none of
/// the kinds a copy carries (a file just made in a folder that hands none
/// on): a source without attributes then costs no look at the destination.
/// Returns 0 or an errno value; `*failed` (when given) then names the
/// attribute that could not be set, where one could not.
int CopyAttributes(Platform& platform, Handle source_dir,
                   const std::string& source_name, Handle destination_dir,
                   const std::string& destination_name,
                   bool destination_bare = false,
                   std::string* failed = nullptr);

/// Whether a file made in `folder` may start with attributes of the kinds a
/// copy carries: only a default access control list hands any on. Where
/// that cannot be told, it may.
bool HandsOnAttributes(Platform& platform, Handle folder);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_ATTRIBUTES_H_
