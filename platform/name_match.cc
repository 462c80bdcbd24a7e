// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/name_match.h"

#include <fnmatch.h>
#include <locale.h>

namespace ferrybox {
namespace {

// The C library's own UTF-8 locale (Debian ships C.UTF-8 with libc
// itself), made once and never freed. Without it the calling thread's
// locale is used as it is.
locale_t Utf8Locale() {
  static const locale_t locale =
      newlocale(LC_CTYPE_MASK | LC_COLLATE_MASK, "C.UTF-8", locale_t{});
  return locale;
}

}  // namespace

bool ShellNameMatches(const std::string& pattern, const std::string& name) {
  const locale_t utf8 = Utf8Locale();
  // uselocale changes the calling thread's locale only; the scan matches on
  // several threads at once.
  const locale_t before = utf8 != locale_t{} ? uselocale(utf8) : locale_t{};
  const bool matches = fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
  if (before != locale_t{}) uselocale(before);
  return matches;
}

}  // namespace ferrybox
