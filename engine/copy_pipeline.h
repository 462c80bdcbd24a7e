// SPDX-License-Identifier: GPL-3.0-or-later
// A few copy jobs in flight at once, each begun in its file's turn.
#ifndef FERRYBOX_ENGINE_COPY_PIPELINE_H_
#define FERRYBOX_ENGINE_COPY_PIPELINE_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/file_copy.h"
#include "engine/file_decision.h"
#include "platform/platform.h"

namespace ferrybox {

/// How many copies a run makes at once unless FERRYBOX_COPIES (1 to 8)
/// says otherwise; 1 makes them one at a time.
size_t DefaultCopies();

/// Holds copies between their chunks while the run is paused.
class PauseGate {
 public:
  void Set(bool paused);
  /// Returns at once when not paused; otherwise waits until resumed or
  /// `stopped()` says so, asking it every 50 ms.
  template <typename Stopped>
  void Pass(Stopped stopped) {
    std::unique_lock lock(mutex_);
    while (paused_ && !stopped())
      resumed_.wait_for(lock, std::chrono::milliseconds(50));
  }

 private:
  std::mutex mutex_;
  std::condition_variable resumed_;
  bool paused_ = false;
};

/// Runs copy jobs on up to `copies` threads. The run hands a job over only
/// when it has decided its file and there is room (fewer than `copies`
/// unfinished); a job is begun at once, never queued behind others. The
/// run takes the outcomes back in its own order.
///
/// One mutex guards the queue and the tickets' `done`; one condition
/// variable wakes the threads, another the run. No job runs under the lock.
class CopyPipeline {
 public:
  /// `control` is asked between the chunks of every copy; it outlives this.
  CopyPipeline(Platform& platform, const CopyControl* control, size_t copies);
  /// Waits for the jobs under way, one per thread.
  ~CopyPipeline();
  CopyPipeline(const CopyPipeline&) = delete;
  CopyPipeline& operator=(const CopyPipeline&) = delete;

  size_t copies() const { return copies_; }

  /// Begins `ticket`'s job, on a thread of its own when one could be
  /// started, else at once on the caller's. A small file is copied at once
  /// on the caller's thread too while the copies made lately took less
  /// than handing one to a thread costs. `ticket` stays where it is until
  /// it is done.
  void Submit(CopyTicket* ticket);
  /// Waits at most `wait` for `ticket` to be done; true once it is.
  bool WaitFor(CopyTicket& ticket, std::chrono::milliseconds wait);
  /// Waits at most `wait` until another job may be handed over.
  bool WaitForRoom(std::chrono::milliseconds wait);

 private:
  void Work();
  /// Runs `ticket`'s job on this thread and marks it done.
  void Copy(CopyTicket* ticket, bool handed_over);

  Platform& platform_;
  const CopyControl* const control_;
  const size_t copies_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  // Under `mutex_`: jobs handed over and not yet taken up by a thread, jobs
  // handed over and not done, threads waiting for a job, the end.
  std::deque<CopyTicket*> queue_;
  size_t unfinished_ = 0;
  size_t idle_ = 0;
  bool ending_ = false;
  // Under `mutex_`: how long copies took lately, a running average. It
  // begins as slow, so that the first copies are handed over.
  std::chrono::nanoseconds typical_copy_ = std::chrono::milliseconds(2);
  // Only the run's thread starts threads.
  std::vector<std::thread> threads_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_COPY_PIPELINE_H_
