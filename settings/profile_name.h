// SPDX-License-Identifier: GPL-3.0-or-later
// The profile name rule.
#ifndef FERRYBOX_SETTINGS_PROFILE_NAME_H_
#define FERRYBOX_SETTINGS_PROFILE_NAME_H_

#include <cstddef>
#include <string>

namespace ferrybox {

/// The name "Save Profile" makes up when no name was typed: the source
/// folder with every "/" and then every ":" replaced by "_"
/// ("/home/ann/allfiles" gives "_home_ann_allfiles"). Nothing else changes.
std::string ProfileNameFromSource(const std::string& source);

/// True when `name` can only name a file inside the profiles folder: it
/// holds no "/" and is neither "." nor "..". The empty name is allowed
/// (its file is ".prf").
bool IsPlainProfileName(const std::string& name);

/// The longest escaped name a scheduled backup's units can carry: systemd
/// takes unit names of at most 256 characters, and
/// "ferrybox-backup@" and ".service" take 24 of them.
inline constexpr size_t kLongestScheduledName = 232;

/// The length of `name` as systemd-escape writes it for a unit's instance:
/// letters, digits, ":", "_" and "." (but a leading ".") stay, "/" becomes
/// "-", every other byte becomes four characters ("\xe5").
size_t ScheduledNameLength(const std::string& name);

}  // namespace ferrybox

#endif  // FERRYBOX_SETTINGS_PROFILE_NAME_H_
