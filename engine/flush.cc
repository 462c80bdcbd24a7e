// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/flush.h"

#include <errno.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>

namespace ferrybox {

int FlushToDisk(Platform& platform, Handle folder, Window& window,
                const std::atomic<bool>& abandoned) {
  // A handle of its own: an abandoned flush outlives the run that asked.
  Handle own = kNoHandle;
  const int error = platform.Open(folder, ".", OpenMode::kFolder, &own);
  if (error != 0) return error;
  auto flush = [&platform, own] {
    const int result = platform.SyncFileSystem(own);
    platform.Close(own);
    return result;
  };
  std::packaged_task<int()> task(flush);
  std::future<int> done = task.get_future();
  try {
    std::thread(std::move(task)).detach();
  } catch (const std::system_error&) {
    return flush();  // no thread to be had: wait without the window
  }
  while (done.wait_for(kFlushEventInterval) != std::future_status::ready) {
    if (abandoned) return ECANCELED;
    window.ProcessEvents();
    if (abandoned) return ECANCELED;
  }
  return done.get();
}

struct EarlyFlush::State {
  explicit State(Platform& p) : platform(p) {}
  Platform& platform;
  Handle own = kNoHandle;
  std::mutex mutex;
  std::condition_variable stopped;
  bool stop = false;
  bool flushing = false;
  int error = 0;
};

EarlyFlush::EarlyFlush(Platform& platform, Handle folder)
    : state_(std::make_shared<State>(platform)) {
  if (platform.Open(folder, ".", OpenMode::kFolder, &state_->own) != 0) return;
  auto flush_until_stopped = [state = state_] {
    std::chrono::steady_clock::duration wait = kEarlyFlushInterval;
    for (;;) {
      {
        std::unique_lock lock(state->mutex);
        if (state->stopped.wait_for(lock, wait, [&] { return state->stop; }))
          break;
        state->flushing = true;
      }
      const auto began = std::chrono::steady_clock::now();
      const int error = state->platform.SyncFileSystem(state->own);
      wait = std::max<std::chrono::steady_clock::duration>(
          kEarlyFlushInterval,
          (std::chrono::steady_clock::now() - began) * kEarlyFlushSpacing);
      std::lock_guard lock(state->mutex);
      state->flushing = false;
      if (state->error == 0) state->error = error;
    }
    state->platform.Close(state->own);
  };
  try {
    thread_ = std::thread(flush_until_stopped);
  } catch (const std::system_error&) {
    platform.Close(state_->own);
  }
}

EarlyFlush::~EarlyFlush() {
  Stop();
  if (!thread_.joinable()) return;
  bool flushing = false;
  {
    std::lock_guard lock(state_->mutex);
    flushing = state_->flushing;
  }
  // A flush under way may take long on a slow drive, and the program may
  // be ending: it finishes on its own. Between flushes the thread ends at
  // once.
  if (flushing)
    thread_.detach();
  else
    thread_.join();
}

void EarlyFlush::Stop() {
  std::lock_guard lock(state_->mutex);
  state_->stop = true;
  state_->stopped.notify_all();
}

int EarlyFlush::Finish() {
  Stop();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(state_->mutex);
  return state_->error;
}

}  // namespace ferrybox
