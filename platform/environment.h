// SPDX-License-Identifier: GPL-3.0-or-later
// The process's environment, the user's folders and the local time.
#ifndef FERRYBOX_PLATFORM_ENVIRONMENT_H_
#define FERRYBOX_PLATFORM_ENVIRONMENT_H_

#include <cstdint>
#include <string>

namespace ferrybox {

/// The value of the environment variable `name`; "" when it is unset.
std::string Environment(const char* name);

/// The whole number the environment variable `name` holds, at most `most`;
/// `fallback` when it is unset, not a whole number, or below `least`.
int64_t EnvironmentNumber(const char* name, int64_t fallback, int64_t least,
                          int64_t most);

/// The path of the running executable, links resolved; "" when the system
/// does not tell.
std::string ExecutablePath();

/// The user's home folder: $HOME, or the user's entry in the password
/// database when $HOME is unset or empty; "" when neither tells.
std::string HomeFolder();

/// The time of day now in the locale's format and the local time zone, such
/// as 14:05:09; "" when the system cannot tell.
std::string TimeOfDayText();

/// The time now as whole seconds since 1970-01-01 00:00 UTC.
int64_t SecondsSinceEpoch();

/// `seconds` since 1970-01-01 00:00 UTC as the UTC date and time
/// "YYYY-MM-DD HH.MM.SSZ"; "" when the system cannot tell.
std::string UtcStampText(int64_t seconds);

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_ENVIRONMENT_H_
