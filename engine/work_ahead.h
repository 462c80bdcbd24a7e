// SPDX-License-Identifier: GPL-3.0-or-later
// Jobs done on a few threads ahead of the run that takes their results.
#ifndef FERRYBOX_ENGINE_WORK_AHEAD_H_
#define FERRYBOX_ENGINE_WORK_AHEAD_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ferrybox {

/// Jobs 0 to count - 1, done by a few threads in batches of consecutive
/// jobs, in order, at most `window` jobs ahead of the one the run holds; the
/// run takes their results one after the other. Results live with the
/// owner, job `i`'s in slot `i % window`: a thread writes a slot only while
/// the run is not reading it, and the run reads job `i`'s slot from Take(i)
/// until its next Take.
///
/// One mutex guards the window and two condition variables wait on it:
/// threads for room, the run for a result. No job runs under the lock.
class WorkAhead {
 public:
  /// Does job `index`, on a thread; `worker` (below MaxThreads()) tells the
  /// threads apart, so that each may keep state of its own.
  using Job = std::function<void(size_t worker, size_t index)>;

  /// The most threads a WorkAhead starts.
  static constexpr size_t MaxThreads() { return 8; }

  /// `window` and `batch` are at least 1.
  WorkAhead(size_t count, size_t window, size_t batch, Job job);
  /// No new job starts; waits for the jobs under way, one per thread.
  ~WorkAhead();
  WorkAhead(const WorkAhead&) = delete;
  WorkAhead& operator=(const WorkAhead&) = delete;

  /// Starts the threads: `threads` of them (at most MaxThreads()), or with
  /// 0 one per processor and two at least. False when not one could be
  /// started (a process out of threads): then no job is done, and the run
  /// must do its own.
  bool Start(size_t threads = 0);

  /// Waits until job `index` is done; `index` never goes back. Calls
  /// `while_waiting` every 50 ms or so, and gives up with false when it
  /// returns false.
  bool Take(size_t index, const std::function<bool()>& while_waiting);

  /// Jobs not yet begun will not be: the run is ending. Take answers
  /// false for them.
  void Stop();
  /// Whether Stop was called, for a long job to end early.
  bool stopping() const { return stopping_; }

 private:
  void AddThread();
  void Work(size_t worker);

  const size_t count_;
  const size_t window_;
  const size_t batch_;
  const Job job_;
  std::mutex mutex_;
  std::condition_variable room_;
  std::condition_variable done_;
  // Under `mutex_`: the job the run holds, the next job no thread took up,
  // index + 1 of the job each slot holds once done, the threads waiting
  // for room, whether the run waits for a result.
  size_t held_ = 0;
  size_t next_ = 0;
  std::vector<size_t> done_at_;
  size_t idle_ = 0;
  bool run_waits_ = false;
  // Whether the last batch done took long for its size.
  bool slow_jobs_ = false;
  // Read between the jobs of a batch, without the lock.
  std::atomic<bool> stopping_{false};
  // Only the run's thread starts threads.
  std::vector<std::thread> threads_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_WORK_AHEAD_H_
