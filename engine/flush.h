// SPDX-License-Identifier: GPL-3.0-or-later
// Putting a finished backup on the disk while the window stays alive.
#ifndef FERRYBOX_ENGINE_FLUSH_H_
#define FERRYBOX_ENGINE_FLUSH_H_

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "engine/window.h"
#include "platform/platform.h"

namespace ferrybox {

/// How often the window's events are handled while a flush is waited for.
inline constexpr std::chrono::milliseconds kFlushEventInterval{50};

/// Writes everything the file system that holds `folder` keeps in memory to
/// its disk (Platform::SyncFileSystem). The flush runs on a thread of its
/// own while this one handles the window's events every
/// kFlushEventInterval, so the window repaints and takes clicks however
/// long the disk takes. Once `abandoned` is set (the program is ending) it
/// stops waiting and returns ECANCELED; the flush finishes on its own.
/// Returns 0 or an errno value.
int FlushToDisk(Platform& platform, Handle folder, Window& window,
                const std::atomic<bool>& abandoned);

/// The least time between two early flushes, and how many times as long as
/// the last one took: a slow drive is flushed less often.
inline constexpr std::chrono::milliseconds kEarlyFlushInterval{200};
inline constexpr int kEarlyFlushSpacing = 4;

/// Flushes the file system that holds a folder again and again while a run
/// copies, on a thread of its own, so that the disk writes while the run
/// still works and the flush at its end finds little left. The run never
/// waits for it until it ends.
class EarlyFlush {
 public:
  /// Starts flushing the file system of `folder`, through a handle of its
  /// own, first after kEarlyFlushInterval. Where no thread or handle can be
  /// had, nothing is flushed early.
  EarlyFlush(Platform& platform, Handle folder);
  /// Lets a flush under way finish on its own: the program may be ending.
  ~EarlyFlush();
  EarlyFlush(const EarlyFlush&) = delete;
  EarlyFlush& operator=(const EarlyFlush&) = delete;

  /// Starts no further flush.
  void Stop();
  /// Stops, waits for a flush under way, and returns the first failure any
  /// flush met (0 when none): a failure one flush reported, no later flush
  /// reports again.
  int Finish();

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_FLUSH_H_
