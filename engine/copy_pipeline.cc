// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/copy_pipeline.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <string>
#include <system_error>

#include "platform/environment.h"

namespace ferrybox {
namespace {

// Copies at once by default. On a share one round trip away four copies
// took under half the time of one (2,000 files, 1 ms; eight did no
// better); on a local disk the run's own thread is the limit, and four
// cost no more than one.
constexpr size_t kCopies = 4;
constexpr size_t kMostCopies = 8;
// Handing a copy to a thread and taking its outcome back costs about 45 us
// on a 2-CPU machine (two wake-ups and two context switches): more than a
// small copy on a local disk takes, which the run then makes itself, and
// far less than one on a share, whose copies stay in flight. Only small
// files, so that the run never holds its events back for long.
constexpr std::chrono::microseconds kHandOver{200};
constexpr int64_t kSmallCopy = 256 * 1024;

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
      copies_(std::clamp<size_t>(copies, 1, kMostCopies)) {}

CopyPipeline::~CopyPipeline() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void CopyPipeline::Submit(CopyTicket* ticket) {
  bool here = false;
  bool start_thread = false;
  {
    std::lock_guard lock(mutex_);
    ++unfinished_;
    here = ticket->job.decided.size <= kSmallCopy && typical_copy_ < kHandOver;
    if (!here) {
      queue_.push_back(ticket);
      // A thread per copy in flight, started the first time one is wanted.
      start_thread = queue_.size() > idle_ && threads_.size() < copies_;
    }
  }
  if (start_thread) {
    try {
      threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // Out of threads: the copies go on with those there are.
    }
  }
  if (!here && !threads_.empty()) {
    work_.notify_one();
    return;
  }
  if (!here) {
    // Not one thread: the run makes the copy itself.
    std::lock_guard lock(mutex_);
    queue_.pop_back();
  }
  Copy(ticket, false);
}

bool CopyPipeline::WaitFor(CopyTicket& ticket, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  return done_.wait_for(lock, wait, [&ticket] { return ticket.done; });
}

bool CopyPipeline::WaitForRoom(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  return done_.wait_for(lock, wait, [this] { return unfinished_ < copies_; });
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
    lock.unlock();
    Copy(ticket, true);
    lock.lock();
  }
}

void CopyPipeline::Copy(CopyTicket* ticket, bool handed_over) {
  const auto began = std::chrono::steady_clock::now();
  CopyOutcome outcome = RunCopyJob(platform_, ticket->job, control_);
  const auto took = std::chrono::steady_clock::now() - began;
  {
    std::lock_guard lock(mutex_);
    ticket->outcome = std::move(outcome);
    ticket->done = true;
    --unfinished_;
    typical_copy_ += (took - typical_copy_) / 8;
  }
  if (handed_over) done_.notify_all();
}

}  // namespace ferrybox
