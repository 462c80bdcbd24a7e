// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/version_number.h"

#include <limits>
#include <string>

namespace ferrybox {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::int64_t LeadingNumber(std::string_view text) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (char c : text) {
    if (IsBlank(c)) continue;
    if (c < '0' || c > '9') break;
    const int digit = c - '0';
    // Saturate rather than overflow: a long version text stays "large".
    value = value > (kLargest - digit) / 10 ? kLargest : value * 10 + digit;
  }
  return value;
}

std::int64_t OwnVersionNumber(std::string_view version_text) {
  std::string digits;
  digits.reserve(version_text.size());
  for (char c : version_text) {
    if (c != '.') digits += c;
  }
  return LeadingNumber(digits);
}

}  // namespace ferrybox
