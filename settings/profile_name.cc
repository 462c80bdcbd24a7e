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

}  // namespace ferrybox
