// SPDX-License-Identifier: GPL-3.0-or-later
// Putting a finished backup on the disk while the window stays alive.
#ifndef FERRYBOX_ENGINE_FLUSH_H_
#define FERRYBOX_ENGINE_FLUSH_H_

#include <atomic>
#include <chrono>

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

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_FLUSH_H_
