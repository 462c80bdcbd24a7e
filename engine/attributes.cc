// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/attributes.h"

#include <errno.h>

#include <algorithm>

#include "engine/keep_owner.h"

namespace ferrybox {
namespace {

// An attribute the file system or the process will not take: a copy stays
// good without it.
bool Refused(int error) { return AttributeRefused(error) || error == E2BIG; }

// The kinds a copy carries, and so removes from the destination when the
// source has none: others (a security label) belong to the destination.
bool Carried(const std::string& attribute) {
  return attribute.starts_with("user.") || attribute.starts_with("trusted.") ||
         attribute == "security.capability" ||
         attribute == "system.posix_acl_access" ||
         attribute == "system.posix_acl_default";
}

}  // namespace

int ReadAttributes(Platform& platform, Handle dir, const std::string& name,
                   Attributes* attributes) {
  attributes->clear();
  std::vector<std::string> names;
  int error = platform.ListAttributes(dir, name, &names);
  if (Refused(error)) return 0;
  if (error != 0) return error;
  for (std::string& attribute : names) {
    std::string value;
    error = platform.GetAttribute(dir, name, attribute, &value);
    if (error == ENODATA || Refused(error)) continue;  // gone since listed
    if (error != 0) return error;
    attributes->push_back({std::move(attribute), std::move(value)});
  }
  return 0;
}

int WriteAttributes(Platform& platform, Handle dir, const std::string& name,
                    const Attributes& attributes, std::string* failed) {
  std::vector<std::string> there;
  int error = platform.ListAttributes(dir, name, &there);
  // Where the destination keeps none, there is nothing to set or remove.
  if (Refused(error)) return 0;
  if (error != 0) return error;
  const auto in_source = [&attributes](const std::string& attribute) {
    return std::any_of(
        attributes.begin(), attributes.end(),
        [&attribute](const Attribute& a) { return a.name == attribute; });
  };
  for (const std::string& attribute : there) {
    if (!Carried(attribute) || in_source(attribute)) continue;
    error = platform.RemoveAttribute(dir, name, attribute);
    if (error != 0 && error != ENODATA && !Refused(error)) return error;
  }
  for (const Attribute& attribute : attributes) {
    if (std::find(there.begin(), there.end(), attribute.name) != there.end()) {
      std::string value;
      if (platform.GetAttribute(dir, name, attribute.name, &value) == 0 &&
          value == attribute.value)
        continue;
    }
    error = platform.SetAttribute(dir, name, attribute.name, attribute.value);
    if (error != 0 && !Refused(error)) {
      if (failed != nullptr) *failed = attribute.name;
      return error;
    }
  }
  return 0;
}

int CopyAttributes(Platform& platform, Handle source_dir,
                   const std::string& source_name, Handle destination_dir,
                   const std::string& destination_name, bool destination_bare,
                   std::string* failed) {
  Attributes attributes;
  const int error =
      ReadAttributes(platform, source_dir, source_name, &attributes);
  if (error != 0) return error;
  if (destination_bare && attributes.empty()) return 0;
  return WriteAttributes(platform, destination_dir, destination_name,
                         attributes, failed);
}

bool HandsOnAttributes(Platform& platform, Handle folder) {
  std::string value;
  const int error =
      platform.GetAttribute(folder, "", "system.posix_acl_default", &value);
  if (error == ENODATA || Refused(error)) return false;
  return error != 0 || !value.empty();
}

}  // namespace ferrybox
