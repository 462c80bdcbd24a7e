// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/time_step.h"

#include <errno.h>

#include <algorithm>

#include "platform/scoped_handle.h"
#include "platform/temp_name.h"

namespace ferrybox {
namespace {

constexpr int64_t kSecond = kNanosecondsPerSecond;

// Every step in use, each a multiple of the one before: nanoseconds
// (ext4, xfs, btrfs, tmpfs), 100 ns (NTFS, SMB), microseconds (some
// shares), 10 ms (exFAT), whole seconds (exFAT through FUSE, older
// shares), 2 s (FAT).
constexpr int64_t kSteps[] = {
    1,         10,         100,         1'000,   10'000,           100'000,
    1'000'000, 10'000'000, 100'000'000, kSecond, kCoarsestTimeStep};

// 2000-01-01 00:00:00 UTC: an even second, in the range of every file
// system, and still an even second in any local time that FAT may keep.
constexpr int64_t kProbeBase = 946'684'800;
// A 1 in every decimal place: kept at any step, the kept time's last
// nonzero place tells the step, whether the file system rounds down, up or
// to the nearest. The two differ in their odd second, which tells 1 s from
// 2 s in either direction of rounding.
constexpr FileTime kProbeTimes[] = {{kProbeBase + 1, 111'111'111},
                                    {kProbeBase, 111'111'111}};

constexpr int64_t kDay = 86'400;
// 1980-01-01 00:00:00 and 2107-12-31 23:59:59 UTC: the years FAT and exFAT
// hold, in a local time that may lie up to 14 hours either way.
constexpr int64_t kFirstKept = 315'532'800;
constexpr int64_t kLastKept = 4'354'819'199;
constexpr int64_t kZone = 14 * 3'600;
// Every time zone is a whole number of quarter hours from UTC.
constexpr int64_t kQuarterHour = 900;
// 128 years of 365.2425 days, the span of FAT's seven bits of year.
constexpr int64_t k128Years = 4'039'372'800;

// True when `seconds` is a whole number of quarter hours, give or take
// `slack` seconds.
bool OnAQuarterHour(int64_t seconds, int64_t slack) {
  const int64_t rest = ((seconds % kQuarterHour) + kQuarterHour) % kQuarterHour;
  return rest <= slack || rest >= kQuarterHour - slack;
}

// Within a minute of the clock: what a file system stamps a file with now.
bool Recent(FileTime time) {
  return DistanceNs(time, FileTimeNow()) < static_cast<uint64_t>(60 * kSecond);
}

// The largest step that `time` is a whole multiple of.
int64_t CoarsestStepOf(FileTime time) {
  int64_t coarsest = kExactTimes;
  for (int64_t step : kSteps) {
    if (!IsMultipleOf(time, step)) break;
    coarsest = step;
  }
  return coarsest;
}

}  // namespace

int64_t StepOfRounding(FileTime requested, FileTime stored) {
  const uint64_t distance = DistanceNs(requested, stored);
  for (int64_t step : kSteps) {
    if (IsMultipleOf(stored, step) && distance < static_cast<uint64_t>(step))
      return step;
  }
  return 0;
}

bool SameTimeAtStep(FileTime a, FileTime b, int64_t step_ns) {
  if (step_ns <= kExactTimes) return a == b;
  // Two times in the same step are less than a step apart too; the
  // distance also accepts a copy whose file system rounded up into the
  // next step.
  return DistanceNs(a, b) < static_cast<uint64_t>(step_ns);
}

bool KeptOutsideItsYears(FileTime requested, FileTime stored) {
  const int64_t asked = requested.seconds;
  const int64_t kept = stored.seconds;
  if (asked >= kFirstKept + kZone && asked <= kLastKept - kZone) return false;
  if (kept < kFirstKept - kZone || kept > kLastKept + kZone) return false;
  // Held at the first moment: local midnight of 1980-01-01.
  if (asked < kept && kept <= kFirstKept + kZone && stored.nanoseconds == 0 &&
      OnAQuarterHour(kept, 0))
    return true;
  // Held at the last: 23:59:58 or 23:59:59 local of 2107-12-31.
  if (asked > kept && kept >= kLastKept - kZone - 1 &&
      OnAQuarterHour(kept + 1, 1))
    return true;
  // The year wrapped around: whole spans of 128 years away, a leap day or
  // two either way, at the same time of day give or take a step and a
  // change of daylight saving.
  const int64_t apart = kept - asked;
  const int64_t spans =
      (apart + (apart < 0 ? -k128Years : k128Years) / 2) / k128Years;
  if (spans == 0) return false;
  const int64_t off = apart - spans * k128Years;
  return off >= -2 * kDay && off <= 2 * kDay && OnAQuarterHour(apart, 2);
}

int ProbeTimeStep(Platform& platform, Handle folder, int64_t* step_ns) {
  ScopedHandle file(platform);
  std::string name;
  int error = CreateTempFile(platform, folder, &name, file.out());
  if (error != 0) return error;

  int64_t step = kCoarsestTimeStep;
  for (const FileTime& requested : kProbeTimes) {
    FileTime stored;
    error = platform.Finish(file.get(), 0600, requested, requested, &stored);
    if (error != 0) break;
    const int64_t kept_at = CoarsestStepOf(stored);
    if (DistanceNs(requested, stored) >= static_cast<uint64_t>(kept_at)) {
      error = EPROTO;
      break;
    }
    step = std::min(step, kept_at);
  }
  file.reset();
  // A name left behind is a temporary name: the next run that lists this
  // folder removes it.
  platform.Remove(folder, name);
  if (error != 0) return error;
  *step_ns = step;
  return 0;
}

bool TimeSteps::KeepsTimesAsAsked(uint64_t device) {
  const Device& known = Of(device);
  return known.kept_as_asked && known.step == kExactTimes &&
         known.renames == Renames::kKeepTimes;
}

TimeSteps::Device& TimeSteps::Of(uint64_t device) {
  for (Device& known : devices_)
    if (known.id == device) return known;
  devices_.push_back(Device{.id = device});
  return devices_.back();
}

void TimeSteps::Learn(uint64_t device, FileTime requested, FileTime stored) {
  // A single copy can only show a lower bound: a time kept at 10 s looks
  // the same on a file system with 1 s and one with 2 s steps.
  const int64_t step = StepOfRounding(requested, stored);
  if (step == 0) return;
  Device& known = Of(device);
  known.step = std::max(known.step, step);
  // A time with a nonzero last place, kept as it was, shows no rounding.
  if (requested == stored && requested.nanoseconds % 10 != 0)
    known.kept_as_asked = true;
}

int TimeSteps::Copied(uint64_t device, Handle folder, const std::string& name,
                      const FileInfo& source, FileTime stored_mtime,
                      FileTime copied_at) {
  Device& known = Of(device);
  FileInfo renamed;
  if (known.renames == Renames::kUnknown &&
      platform_.Stat(folder, name, false, &renamed) == 0 &&
      renamed.type == EntryType::kFile) {
    if (renamed.mtime != stored_mtime) {
      known.renames = Renames::kLoseTimes;
    } else if (!Recent(stored_mtime)) {
      // A file changed a moment ago tells nothing: a stamp of the rename
      // would look the same. The next copy asks again.
      known.renames = Renames::kKeepTimes;
    }
  }
  if (known.renames == Renames::kLoseTimes) {
    const int error = platform_.SetTimes(folder, name, source.atime,
                                         source.mtime, &stored_mtime);
    if (error != 0) return error;
  }
  Learn(device, source.mtime, stored_mtime);
  return MarkIfChangedWithinAStep(device, folder, name, source, stored_mtime,
                                  copied_at);
}

int TimeSteps::MarkIfChangedWithinAStep(uint64_t device, Handle folder,
                                        const std::string& name,
                                        const FileInfo& source,
                                        FileTime stored_mtime,
                                        FileTime copied_at) {
  // Such a drive keeps no status-change or birth time of its own (through
  // FUSE it gives the modification time for both), so the moment of the
  // copy is known only from the clock the source's time came from, read
  // when the copy was made.
  // The step the copies have shown, this one included, and no probe. A
  // copy's rounding shows only a lower bound, though: a time just past a
  // whole second looks kept to the millisecond on a drive that keeps
  // seconds. So until a probe has told the step or the drive has kept a
  // time as asked, a stored time that is a whole multiple of a coarser step
  // counts as rounded to it.
  const uint64_t since = DistanceNs(source.mtime, copied_at);
  const Device& known = Of(device);
  const int64_t step = known.probed || known.kept_as_asked
                           ? known.step
                           : std::max(known.step, CoarsestStepOf(stored_mtime));
  if (step == kExactTimes || since >= static_cast<uint64_t>(step)) return 0;
  // Changed in the same step as its copy was made, an edit made after the
  // copy would keep the same stored time and length: the copy is given a
  // time two steps earlier, which no rounding makes the same, so that the
  // next run copies it once more.
  const int64_t earlier_ns =
      stored_mtime.seconds * kSecond + stored_mtime.nanoseconds - 2 * step;
  const FileTime earlier{earlier_ns / kSecond, earlier_ns % kSecond};
  return platform_.SetTimes(folder, name, source.atime, earlier, nullptr);
}

int64_t TimeSteps::Step(uint64_t device, Handle folder) {
  Device& known = Of(device);
  if (!known.probed) {
    known.probed = true;
    int64_t probed = kExactTimes;
    // A destination that cannot be written to keeps what copies showed.
    if (ProbeTimeStep(platform_, folder, &probed) == 0)
      known.step = std::max(known.step, probed);
  }
  return known.step;
}

}  // namespace ferrybox
