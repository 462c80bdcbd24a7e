// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/copy_pipeline.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>

#include "platform/environment.h"
#include "platform/failure.h"

namespace ferrybox {
namespace {

// Copies at once by default. On a share one round trip away four copies
// took under half the time of one (2,000 files, 1 ms; eight did no
// better). On a local disk more threads than processors only contend for
// the same folders, so more are started only while copies are slow.
constexpr size_t kCopies = 4;
constexpr size_t kMostCopies = 8;
// Handing a copy to a thread and taking its outcome back costs about 45 us
// on a 2-CPU machine (two wake-ups and two context switches): more than a
// small copy on a local disk takes. So jobs are handed over a batch at a
// time, and with one copy at a time the run makes a small one itself while
// copies are quick; only small files, so that the run never holds its
// events back for long.
constexpr size_t kBatch = 16;
constexpr std::chrono::microseconds kHandOver{200};
constexpr int64_t kSmallCopy = 256 * 1024;
// A local copy of a small file takes well under a millisecond; one on a
// share, a few round trips.
constexpr std::chrono::milliseconds kHeld{2};

}  // namespace

size_t DefaultCopies() {
  return static_cast<size_t>(
      EnvironmentNumber("FERRYBOX_COPIES", kCopies, 1, kMostCopies));
}

void PauseGate::Set(bool paused) {
  {
    std::lock_guard lock(mutex_);
    paused_ = paused;
  }
  resumed_.notify_all();
}

CopyPipeline::CopyPipeline(Platform& platform, const CopyControl* control,
                           size_t copies)
    : platform_(platform),
      control_(control),
      copies_(std::clamp<size_t>(copies, 1, kMostCopies)),
      first_threads_(std::min(
          copies_, std::max<size_t>(std::thread::hardware_concurrency(), 2))) {}

CopyPipeline::~CopyPipeline() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void CopyPipeline::Submit(CopyTicket* ticket) {
  if (copies_ == 1) {
    bool here = false;
    {
      std::lock_guard lock(mutex_);
      here =
          ticket->job.decided.size <= kSmallCopy && typical_copy_ < kHandOver;
      if (here) ++unfinished_;
    }
    if (here) {
      Copy(ticket, false);
      return;
    }
  }
  pending_.push_back(ticket);
  if (copies_ == 1 || pending_.size() >= kBatch) HandOver();
}

bool CopyPipeline::HasRoom() {
  std::lock_guard lock(mutex_);
  return pending_.size() + unfinished_ < kMostHanded;
}

void CopyPipeline::HandOver() {
  size_t start = 0;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (!pending_.empty()) {
      queue_.insert(queue_.end(), pending_.begin(), pending_.end());
      unfinished_ += pending_.size();
      wake = idle_ > 0;
    }
    start = ThreadsWanted();
  }
  pending_.clear();
  for (; start > 0; --start) {
    try {
      threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // Out of threads: the copies go on with those there are.
      break;
    }
  }
  if (wake) work_.notify_all();
  if (!threads_.empty()) return;
  // Not one thread: the run makes the copies itself.
  for (;;) {
    CopyTicket* ticket = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      ticket = queue_.front();
      queue_.pop_front();
    }
    Copy(ticket, false);
  }
}

size_t CopyPipeline::ThreadsWanted() const {
  if (queue_.size() <= idle_ || threads_.size() >= copies_) return 0;
  const size_t wanted =
      std::min(queue_.size() - idle_, copies_ - threads_.size());
  // As many threads as processors at first; more only while every thread
  // has been held in its copy for a while (a share, a slow disk), when one
  // more keeps one more request under way.
  if (threads_.size() < first_threads_)
    return std::min(wanted, first_threads_ - threads_.size());
  const bool held = busy_ == threads_.size() &&
                    std::chrono::steady_clock::now() - last_begun_ >= kHeld;
  return held ? wanted : 0;
}

bool CopyPipeline::WaitFor(CopyTicket& ticket, std::chrono::milliseconds wait) {
  if (wait.count() > 0) HandOver();
  std::unique_lock lock(mutex_);
  if (ticket.done || wait.count() == 0) return ticket.done;
  awaited_ = &ticket;
  const bool done = Wait(lock, wait, [&ticket] { return ticket.done; });
  awaited_ = nullptr;
  return done;
}

bool CopyPipeline::WaitForRoom(std::chrono::milliseconds wait) {
  HandOver();
  std::unique_lock lock(mutex_);
  // Woken once for half the jobs, not once for each.
  return WaitUntilLeft(lock, unfinished_ / 2, wait);
}

bool CopyPipeline::WaitForAll(std::chrono::milliseconds wait) {
  HandOver();
  std::unique_lock lock(mutex_);
  return WaitUntilLeft(lock, 0, wait);
}

bool CopyPipeline::WaitUntilLeft(std::unique_lock<std::mutex>& lock,
                                 size_t left, std::chrono::milliseconds wait) {
  if (unfinished_ <= left) return true;
  awaited_left_ = left;
  const bool room =
      Wait(lock, wait, [this, left] { return unfinished_ <= left; });
  awaited_left_ = kNobodyWaits;
  return room;
}

template <typename Done>
bool CopyPipeline::Wait(std::unique_lock<std::mutex>& lock,
                        std::chrono::milliseconds wait, Done done) {
  const auto until = std::chrono::steady_clock::now() + wait;
  // While a thread may yet be started, the run looks every kHeld whether
  // the threads are all held, and comes back to start one (HandOver).
  while (threads_.size() < copies_ && queue_.size() > idle_) {
    const auto next = std::chrono::steady_clock::now() + kHeld;
    if (done_.wait_until(lock, std::min(next, until), done)) return true;
    if (next >= until || ThreadsWanted() > 0) return false;
  }
  return done_.wait_until(lock, until, done);
}

void CopyPipeline::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    work_.wait(lock, [this] { return ending_ || !queue_.empty(); });
    --idle_;
    if (queue_.empty()) return;  // ending, with nothing handed over
    CopyTicket* ticket = queue_.front();
    queue_.pop_front();
    ++busy_;
    last_begun_ = std::chrono::steady_clock::now();
    lock.unlock();
    Copy(ticket, true);
    lock.lock();
  }
}

void CopyPipeline::Copy(CopyTicket* ticket, bool handed_over) {
  const auto began = std::chrono::steady_clock::now();
  // A job handed over before a stop is not begun after it; a pause holds
  // it here.
  const bool go = !handed_over || control_ == nullptr ||
                  !control_->keep_going || control_->keep_going();
  CopyOutcome outcome;
  if (go) {
    outcome = RunCopyJob(platform_, ticket->job, control_);
  } else {
    outcome.error = kErrorStopped;
    outcome.begun = false;
  }
  const auto took = std::chrono::steady_clock::now() - began;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    ticket->outcome = std::move(outcome);
    ticket->done = true;
    --unfinished_;
    if (handed_over) --busy_;
    if (go) typical_copy_ += (took - typical_copy_) / 8;
    wake = handed_over &&
           (awaited_ == ticket ||
            (awaited_left_ != kNobodyWaits && unfinished_ <= awaited_left_));
  }
  if (wake) done_.notify_all();
}

}  // namespace ferrybox
