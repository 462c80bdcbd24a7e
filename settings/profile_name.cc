// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/profile_name.h"

#include <algorithm>

namespace ferrybox {

std::string ProfileNameFromSource(const std::string& source) {
  std::string name = source;
  std::replace(name.begin(), name.end(), '/', '_');
  std::replace(name.begin(), name.end(), ':', '_');
  return name;
}

bool IsPlainProfileName(const std::string& name) {
  return name.find('/') == std::string::npos && name != "." && name != "..";
}

size_t ScheduledNameLength(const std::string& name) {
  size_t length = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      (c >= '0' && c <= '9') || c == ':' || c == '_' ||
                      (c == '.' && i > 0) || c == '/';
    length += kept ? 1 : 4;
  }
  return length;
}

}  // namespace ferrybox
