// SPDX-License-Identifier: GPL-3.0-or-later
// How finely a destination's file system keeps last-modified times.
#ifndef FERRYBOX_ENGINE_TIME_STEP_H_
#define FERRYBOX_ENGINE_TIME_STEP_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace ferrybox {

/// The step of a file system that keeps times to the nanosecond.
inline constexpr int64_t kExactTimes = 1;
/// The finest step of the drives that keep times only in some years: exFAT
/// keeps 10 ms.
inline constexpr int64_t kCoarseTimeStep = 10'000'000;
/// The coarsest step known: FAT keeps last-modified times in 2 s.
inline constexpr int64_t kCoarsestTimeStep = 2'000'000'000;

/// The smallest step (1 ns, 10 ns, ... 1 s, 2 s) at which a file system that
/// was asked to keep `requested` could have kept `stored`: a step that
/// `stored` is a whole multiple of and that is wider than the distance
/// between the two. kExactTimes when they are equal; 0 when no rounding
/// explains the difference (a file system that ignored the request, or
/// shifted it by hours).
int64_t StepOfRounding(FileTime requested, FileTime stored);

/// True when two last-modified times are the same at `step_ns`: equal when
/// the step is kExactTimes, otherwise less than one step apart, whichever
/// way the file system rounded.
bool SameTimeAtStep(FileTime a, FileTime b, int64_t step_ns);

/// True when `stored` is what a drive that keeps times only in the years
/// 1980 to 2107, in local time (FAT, exFAT), may have kept for a
/// last-modified time `requested` outside them: the first moment it holds
/// for an earlier time, the last for a later one, or the time moved by whole
/// spans of 128 years into those years (drivers that wrap the year around).
/// Nothing can be remembered from the copy (some drivers show the time
/// asked until the drive is mounted again), so this is the only way to
/// know such a copy from a changed file; a stored time anywhere else, or a
/// requested time the drive can hold, is never taken as kept.
bool KeptOutsideItsYears(FileTime requested, FileTime stored);

/// Learns a file system's step without touching anything of the user's:
/// creates a file under a temporary name in `folder`, asks it to keep two
/// chosen times, reads back what was kept, and removes it. Returns 0 or an
/// errno value; EPROTO when what was kept is no rounding of what was asked.
int ProbeTimeStep(Platform& platform, Handle folder, int64_t* step_ns);

/// The steps of the devices one run writes to, learned for the rest of the
/// run: from every copy (what was asked against what was kept) and, the
/// first time a device's step is needed, from one probe on that device, so
/// that a run that copies nothing knows it too.
class TimeSteps {
 public:
  explicit TimeSteps(Platform& platform) : platform_(platform) {}

  /// A copy onto `device` asked for `requested` and the file system kept
  /// `stored`.
  void Learn(uint64_t device, FileTime requested, FileTime stored);

  /// A copy with the times of `source` was renamed into place as `name` in
  /// `folder` on `device`, after the file system had kept `stored_mtime`
  /// for it. Learns from that, and sets the times again where the device
  /// stamps a renamed file with the time of the rename (FAT through FUSE
  /// does); the first copy onto a device tells which it does. Returns 0, or
  /// the error of setting the times again: the copy is good, but shows as
  /// changed to the next incremental run.
  /// `copied_at` is when the copy was made.
  int Copied(uint64_t device, Handle folder, const std::string& name,
             const FileInfo& source, FileTime stored_mtime, FileTime copied_at);

  /// Where the copy `name`, made from `source` on `device` at `copied_at`,
  /// was made less than one step of the device after the source last changed,
  /// gives it a modification time two steps earlier than `stored_mtime`: an
  /// edit made in that step after the copy would leave the source with the same
  /// stored time, and the next run then copies it once more. Returns 0 or
  /// the error of setting the time.
  int MarkIfChangedWithinAStep(uint64_t device, Handle folder,
                               const std::string& name, const FileInfo& source,
                               FileTime stored_mtime, FileTime copied_at);
  /// The step of `device`; `folder` is a folder on it that the probe may
  /// write to. kExactTimes when nothing shows that the device rounds.
  int64_t Step(uint64_t device, Handle folder);

  /// True once a copy onto `device` has shown that it keeps a time exactly
  /// as asked, to the last nanosecond place, also through the rename: a
  /// copy's stored time need not be read back there.
  bool KeepsTimesAsAsked(uint64_t device);

 private:
  enum class Renames { kUnknown, kKeepTimes, kLoseTimes };
  struct Device {
    uint64_t id = 0;
    int64_t step = kExactTimes;
    bool probed = false;
    bool kept_as_asked = false;
    Renames renames = Renames::kUnknown;
  };
  Device& Of(uint64_t device);

  Platform& platform_;
  // A run writes to one device, seldom more: a short list is enough.
  std::vector<Device> devices_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_TIME_STEP_H_
