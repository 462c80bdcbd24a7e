// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/environment.h"

#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ctime>

namespace ferrybox {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

int64_t EnvironmentNumber(const char* name, int64_t fallback, int64_t least,
                          int64_t most) {
  const std::string text = Environment(name);
  int64_t number = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, number);
  if (text.empty() || error != std::errc() || last != end || number < least)
    return fallback;
  return std::min(number, most);
}

std::string ExecutablePath() {
  // The target of /proc/self/exe is the path the running image was loaded
  // from; it is not terminated, and a full buffer may mean a cut path.
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return "";
  return std::string(buffer, static_cast<size_t>(length));
}

std::string HomeFolder() {
  std::string home = Environment("HOME");
  if (home.empty()) {
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr)
      home = entry->pw_dir;
  }
  return home;
}

std::string TimeOfDayText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[64] = "";
  if (localtime_r(&now, &local) != nullptr)
    std::strftime(text, sizeof text, "%X", &local);
  return text;
}

int64_t SecondsSinceEpoch() { return static_cast<int64_t>(std::time(nullptr)); }

std::string UtcStampText(int64_t seconds) {
  const std::time_t when = static_cast<std::time_t>(seconds);
  std::tm utc{};
  char text[64] = "";
  if (gmtime_r(&when, &utc) != nullptr)
    std::strftime(text, sizeof text, "%Y-%m-%d %H.%M.%SZ", &utc);
  return text;
}

}  // namespace ferrybox
