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

/// Runs copy jobs on up to `copies` threads, taken up in the order the
/// run hands them over; the run takes the outcomes back in its own order.
/// Jobs are handed over a batch at a time: waking a thread for each small
/// copy would cost more than the copy. A job handed over is begun only
/// while the run goes on (a stop or a pause holds it), so that after a stop
/// nothing more is begun.
///
/// One mutex guards the queue and the tickets' `done`; one condition
/// variable wakes the threads, another the run, and only when what it
/// waits for has come. No job runs under the lock.
class CopyPipeline {
 public:
  /// `control` is asked before every job and between the chunks of every
  /// copy; it outlives this.
  CopyPipeline(Platform& platform, const CopyControl* control, size_t copies);
  /// Waits for the jobs under way, one per thread.
  ~CopyPipeline();
  CopyPipeline(const CopyPipeline&) = delete;
  CopyPipeline& operator=(const CopyPipeline&) = delete;

  size_t copies() const { return copies_; }

  /// Hands `ticket`'s job over, or with one copy at a time makes a small
  /// one at once on the caller's thread while copies are quick. `ticket`
  /// stays where it is until it is done.
  void Submit(CopyTicket* ticket);
  /// Whether another job may be handed over without waiting.
  bool HasRoom();
  /// Waits at most `wait` for `ticket` to be done; true once it is. With no
  /// wait, only looks.
  bool WaitFor(CopyTicket& ticket, std::chrono::milliseconds wait);
  /// Waits at most `wait` until half the jobs handed over are done; true
  /// once there is room.
  bool WaitForRoom(std::chrono::milliseconds wait);
  /// Waits at most `wait` until every job handed over is done.
  bool WaitForAll(std::chrono::milliseconds wait);

 private:
  static constexpr size_t kMostHanded = 32;
  static constexpr size_t kNobodyWaits = static_cast<size_t>(-1);

  /// Hands the jobs gathered so far to the threads.
  void HandOver();
  /// How many more threads to start now (under the lock).
  size_t ThreadsWanted() const;
  /// Waits under `lock` at most `wait` until `done()`; false also when
  /// another thread is wanted, for the caller to start it.
  template <typename Done>
  bool Wait(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds wait,
            Done done);
  /// Waits under `lock` at most `wait` until at most `left` jobs are
  /// unfinished.
  bool WaitUntilLeft(std::unique_lock<std::mutex>& lock, size_t left,
                     std::chrono::milliseconds wait);
  void Work();
  /// Runs `ticket`'s job on this thread (unless a stop came first) and
  /// marks it done.
  void Copy(CopyTicket* ticket, bool handed_over);

  Platform& platform_;
  const CopyControl* const control_;
  const size_t copies_;
  // Threads started at once when wanted: one per processor.
  const size_t first_threads_;
  // The run's own: jobs not yet handed over.
  std::vector<CopyTicket*> pending_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  // Under `mutex_`: jobs handed over and not yet taken up by a thread, jobs
  // handed over and not done, threads waiting for a job, the end, what the
  // run waits for (a ticket, or how few jobs left unfinished).
  std::deque<CopyTicket*> queue_;
  size_t unfinished_ = 0;
  size_t idle_ = 0;
  bool ending_ = false;
  const CopyTicket* awaited_ = nullptr;
  size_t awaited_left_ = kNobodyWaits;
  // Under `mutex_`: threads in a job, and when the last job was begun.
  size_t busy_ = 0;
  std::chrono::steady_clock::time_point last_begun_;
  // Under `mutex_`: how long copies took lately, a running average. It
  // begins as slow, so that the first copies are handed over.
  std::chrono::nanoseconds typical_copy_ = std::chrono::milliseconds(2);
  // Only the run's thread starts threads.
  std::vector<std::thread> threads_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_COPY_PIPELINE_H_
