// SPDX-License-Identifier: GPL-3.0-or-later
// Version numbers as the update check compares them.
#ifndef FERRYBOX_UPDATE_VERSION_NUMBER_H_
#define FERRYBOX_UPDATE_VERSION_NUMBER_H_

#include <cstdint>
#include <string_view>

namespace ferrybox {

/// Reads the number at the start of `text`: blanks (spaces, tabs, line
/// breaks) are skipped wherever they stand, decimal digits are read up to
/// the first other character, and text that starts with no digit reads as 0.
/// A number too large to hold reads as the largest value.
std::int64_t LeadingNumber(std::string_view text);

/// The program's own version as a number: "1.1.28" with its dots removed,
/// read by LeadingNumber, gives 1128.
std::int64_t OwnVersionNumber(std::string_view version_text);

}  // namespace ferrybox

#endif  // FERRYBOX_UPDATE_VERSION_NUMBER_H_
