// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_time.h"

#include <chrono>
#include <limits>
#include <utility>

namespace ferrybox {

FileTime FileTimeNow() {
  const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  return AddNanoseconds(FileTime{}, ns);
}

FileTime AddNanoseconds(FileTime time, int64_t ns) {
  time.seconds += ns / kNanosecondsPerSecond;
  time.nanoseconds += ns % kNanosecondsPerSecond;
  if (time.nanoseconds < 0) {
    time.nanoseconds += kNanosecondsPerSecond;
    time.seconds -= 1;
  } else if (time.nanoseconds >= kNanosecondsPerSecond) {
    time.nanoseconds -= kNanosecondsPerSecond;
    time.seconds += 1;
  }
  return time;
}

uint64_t DistanceNs(FileTime a, FileTime b) {
  if (a < b) std::swap(a, b);
  // Unsigned, so that no two times can overflow the difference of seconds.
  const uint64_t seconds =
      static_cast<uint64_t>(a.seconds) - static_cast<uint64_t>(b.seconds);
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  constexpr uint64_t kSecond = kNanosecondsPerSecond;
  // One second more than the answer can need, for the nanoseconds below.
  if (seconds > kMax / kSecond - 1) return kMax;
  return seconds * kSecond + static_cast<uint64_t>(a.nanoseconds) -
         static_cast<uint64_t>(b.nanoseconds);
}

bool IsMultipleOf(FileTime time, int64_t step_ns) {
  if (step_ns < kNanosecondsPerSecond) return time.nanoseconds % step_ns == 0;
  return time.nanoseconds == 0 &&
         time.seconds % (step_ns / kNanosecondsPerSecond) == 0;
}

}  // namespace ferrybox
