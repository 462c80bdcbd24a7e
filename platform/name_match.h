// SPDX-License-Identifier: GPL-3.0-or-later
// One name against one shell pattern, by the C library's matcher.
#ifndef FERRYBOX_PLATFORM_NAME_MATCH_H_
#define FERRYBOX_PLATFORM_NAME_MATCH_H_

#include <string>

namespace ferrybox {

/// True when `name` matches the shell pattern `pattern` (`*`, `?`,
/// `[...]`, a backslash quoting the next character) as fnmatch(3) tells
/// under a UTF-8 locale, whatever locale the program runs in, so that `?`
/// stands for one character however many bytes it takes. A leading dot is
/// an ordinary character and `/` is not special. Safe on any thread.
bool ShellNameMatches(const std::string& pattern, const std::string& name);

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_NAME_MATCH_H_
