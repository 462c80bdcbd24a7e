// SPDX-License-Identifier: GPL-3.0-or-later
// Points in time as file systems keep them.
#ifndef FERRYBOX_PLATFORM_FILE_TIME_H_
#define FERRYBOX_PLATFORM_FILE_TIME_H_

#include <compare>
#include <cstdint>

namespace ferrybox {

inline constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;

/// A time stamp of a file: whole seconds since 1970 (negative before it) and
/// the nanoseconds into that second, 0 to 999,999,999. Every time a file
/// system keeps fits, including those before 1677 and after 2262 that one
/// 64-bit count of nanoseconds cannot hold. Ordered as times are.
struct FileTime {
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
  friend constexpr auto operator<=>(const FileTime&, const FileTime&) = default;
};

/// The system clock's time now.
FileTime FileTimeNow();

/// `time` moved by `ns` nanoseconds, later for a positive `ns`.
FileTime AddNanoseconds(FileTime time, int64_t ns);

/// How far apart two times are, in nanoseconds; UINT64_MAX for any distance
/// beyond that (more than about 584 years).
uint64_t DistanceNs(FileTime a, FileTime b);

/// True when `time` is a whole multiple of `step_ns` counted from 1970, for
/// a step that divides a second or is a whole number of seconds.
bool IsMultipleOf(FileTime time, int64_t step_ns);

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_FILE_TIME_H_
