// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/work_ahead.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace ferrybox {
namespace {

constexpr std::chrono::milliseconds kWaitSlice{50};
// The run waited this long for a result, or waited at all while jobs take
// this long each: the threads wait on a disk or a network, not on the
// processor, and one more keeps one more request under way. A status from
// memory takes a few microseconds; one read from a disk, a hundred or more.
constexpr std::chrono::milliseconds kSlowWait{2};
constexpr std::chrono::microseconds kSlowJob{100};

}  // namespace

WorkAhead::WorkAhead(size_t count, size_t window, size_t batch, Job job)
    : count_(count),
      window_(std::max<size_t>(window, 1)),
      batch_(std::clamp<size_t>(batch, 1, window_)),
      job_(std::move(job)),
      done_at_(window_, 0) {}

bool WorkAhead::Start(size_t threads) {
  threads_.reserve(MaxThreads());
  // One thread per processor keeps them busy while the files are in
  // memory; two overlap the waits of a single disk.
  const size_t start =
      threads > 0 ? threads
                  : std::max<size_t>(std::thread::hardware_concurrency(), 2);
  for (size_t i = 0; i < start; ++i) AddThread();
  return !threads_.empty();
}

WorkAhead::~WorkAhead() {
  Stop();
  for (std::thread& thread : threads_) thread.join();
}

void WorkAhead::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
}

void WorkAhead::AddThread() {
  const size_t batches = (count_ + batch_ - 1) / batch_;
  if (threads_.size() >= std::min(MaxThreads(), batches)) return;
  // A process out of threads (a limit on its user) works with fewer.
  try {
    const size_t worker = threads_.size();
    threads_.emplace_back([this, worker] { Work(worker); });
  } catch (const std::system_error&) {
  }
}

void WorkAhead::Work(size_t worker) {
  std::unique_lock lock(mutex_);
  for (;;) {
    // A whole batch, or what is left: waking for less costs more than the
    // work it brings.
    const auto room = [this] {
      const size_t want = std::min(batch_, count_ - next_);
      return held_ + window_ - next_ >= want;
    };
    ++idle_;
    room_.wait(lock, [&] { return stopping_ || next_ >= count_ || room(); });
    --idle_;
    if (stopping_ || next_ >= count_) return;
    const size_t first = next_;
    const size_t end = std::min({first + batch_, count_, held_ + window_});
    next_ = end;
    lock.unlock();
    const auto started = std::chrono::steady_clock::now();
    for (size_t index = first; index < end && !stopping_; ++index) {
      job_(worker, index);
      // Each result is the run's at once: it may be waiting for this one.
      lock.lock();
      done_at_[index % window_] = index + 1;
      const bool wake = run_waits_ && index == held_;
      lock.unlock();
      if (wake) done_.notify_one();
    }
    const auto took = std::chrono::steady_clock::now() - started;
    lock.lock();
    slow_jobs_ = took >= kSlowJob * static_cast<int64_t>(end - first);
  }
}

bool WorkAhead::Take(size_t index, const std::function<bool()>& while_waiting) {
  const auto done = [&] { return done_at_[index % window_] == index + 1; };
  std::unique_lock lock(mutex_);
  held_ = index;
  if (idle_ > 0 && next_ < count_ &&
      held_ + window_ - next_ >= std::min(batch_, count_ - next_)) {
    lock.unlock();
    room_.notify_all();
    lock.lock();
  }
  if (done()) return true;
  const auto start = std::chrono::steady_clock::now();
  run_waits_ = true;
  while (!done()) {
    if (stopping_) break;
    if (done_.wait_for(lock, kWaitSlice) != std::cv_status::timeout) continue;
    lock.unlock();
    const bool go_on = while_waiting();
    lock.lock();
    if (!go_on) break;
  }
  run_waits_ = false;
  const bool got = done();
  const bool slow = slow_jobs_;
  lock.unlock();
  if (got && (slow || std::chrono::steady_clock::now() - start >= kSlowWait))
    AddThread();
  return got;
}

}  // namespace ferrybox
