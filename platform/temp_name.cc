// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/temp_name.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <random>

namespace ferrybox {
namespace {

constexpr std::string_view kPrefix = ".~ferrybox-";
constexpr std::string_view kSuffix = ".part";

uint64_t ProcessToken() {
  static const uint64_t token = [] {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) ^ device();
  }();
  return token;
}

// The prefix and the token: how every name of this process begins.
const std::string& OwnStart() {
  static const std::string start = [] {
    char token[24];
    std::snprintf(token, sizeof token, "%016llx-",
                  static_cast<unsigned long long>(ProcessToken()));
    return std::string(kPrefix) + token;
  }();
  return start;
}

}  // namespace

std::string NewTempName() {
  static std::atomic<uint64_t> counter{0};
  std::string name = OwnStart();
  name += std::to_string(++counter);
  name += kSuffix;
  return name;
}

bool IsTempName(std::string_view name) {
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return false;
  name.remove_prefix(kPrefix.size());
  name.remove_suffix(kSuffix.size());
  // The token, then the counter: nothing else has this shape by chance.
  constexpr size_t kTokenDigits = 16;
  if (name.size() < kTokenDigits + 2 || name[kTokenDigits] != '-') return false;
  const std::string_view token = name.substr(0, kTokenDigits);
  const std::string_view counter = name.substr(kTokenDigits + 1);
  return token.find_first_not_of("0123456789abcdef") ==
             std::string_view::npos &&
         counter.find_first_not_of("0123456789") == std::string_view::npos;
}

bool IsOwnTempName(std::string_view name) {
  return name.starts_with(OwnStart()) && IsTempName(name);
}

int CreateTempFile(Platform& platform, Handle folder, std::string* name,
                   Handle* out) {
  return WithNewTempName(name, [&](const std::string& candidate) {
    return platform.Open(folder, candidate, OpenMode::kCreateExclusive, out);
  });
}

}  // namespace ferrybox
