#include "engine/temp_name.h"

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

}  // namespace

std::string NewTempName() {
  static std::atomic<uint64_t> counter{0};
  char middle[48];
  std::snprintf(middle, sizeof middle, "%016llx-%llu",
                static_cast<unsigned long long>(ProcessToken()),
                static_cast<unsigned long long>(++counter));
  std::string name(kPrefix);
  name += middle;
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

int CreateTempFile(Platform& platform, Handle folder, std::string* name,
                   Handle* out) {
  return WithNewTempName(name, [&](const std::string& candidate) {
    return platform.Open(folder, candidate, OpenMode::kCreateExclusive, out);
  });
}

}  // namespace ferrybox
