// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/flush.h"

#include <errno.h>

#include <future>
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

}  // namespace ferrybox
