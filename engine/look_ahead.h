// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the statuses of the next files while the run works on this one.
#ifndef FERRYBOX_ENGINE_LOOK_AHEAD_H_
#define FERRYBOX_ENGINE_LOOK_AHEAD_H_

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/work_ahead.h"
#include "platform/platform.h"

namespace ferrybox {

/// Files looked at ahead of the run when nothing else is said; 0 turns
/// looking ahead off. The environment variable FERRYBOX_LOOK_AHEAD, when set
/// to a number, replaces it.
int DefaultLookAhead();

/// What was read about one collected file before the run came to it.
struct AheadStatus {
  /// True when the source entry was read: then `source_error` is
  /// StatSourceEntry's answer.
  bool source_read = false;
  int source_error = 0;
  FileInfo source;
  /// True when the destination entry was looked up in its folder, which
  /// existed: then `destination_error` is 0 (found, `destination` holds its
  /// status) or why it was not (ENOENT: nothing of that name).
  bool destination_looked = false;
  int destination_error = 0;
  FileInfo destination;
};

/// The status of the collected entry `name` in the open folder `folder`: a
/// regular file, or a symbolic link as itself. Anything else fails with
/// kErrorNotAFile.
int StatSourceEntry(Platform& platform, Handle folder, const std::string& name,
                    FileInfo* info);

/// Where the files lie, for the threads that read their statuses.
struct AheadRoots {
  /// The source path of every file starts with this prefix (the source root
  /// with its trailing separator).
  std::string source_prefix;
  /// The source root, open.
  Handle source_root = kNoHandle;
  /// The destination root, open, when destination entries are worth
  /// looking up (an incremental run into a root that exists); kNoHandle
  /// otherwise.
  Handle destination_root = kNoHandle;
};

/// A few threads read, in collection order and at most `depth` files ahead
/// of the run, the status of each source file and of its destination entry,
/// so that the waiting for the disk (or for a network share) overlaps. The
/// run takes each file's status in order; the threads only read, and a
/// status read ahead that the run cannot trust is read again by the run.
/// Threads call `platform` at the same time, which must allow that.
class LookAhead {
 public:
  /// `files` is the run's collected list; it, `platform` and the roots'
  /// handles outlive this. `run_going`, asked by the threads between the
  /// steps of a status (so it may only read what they may: atomics), tells
  /// when the run is stopping, before it calls Stop.
  LookAhead(Platform& platform, const std::vector<std::string>& files,
            AheadRoots roots, int depth,
            std::function<bool()> run_going = nullptr);
  ~LookAhead();

  /// Starts the threads. False when not one could be started: then
  /// nothing is read ahead, and the run must read each file in its turn.
  bool Start() { return work_->Start(); }

  /// The status of file `index`, which must come after the previous
  /// call's. Waits for it as WorkAhead::Take does; nullptr when
  /// `while_waiting` gave up. The status stays valid until the next call.
  const AheadStatus* Take(size_t index,
                          const std::function<bool()>& while_waiting);

  /// Reads no more: the run is ending.
  void Stop() {
    stopping_ = true;
    work_->Stop();
  }

 private:
  struct Reader;
  void Read(Reader& reader, size_t index);

  Platform& platform_;
  const std::vector<std::string>& files_;
  const AheadRoots roots_;
  std::vector<AheadStatus> statuses_;
  std::vector<std::unique_ptr<Reader>> readers_;
  // Read by the threads between the steps of one status.
  std::atomic<bool> stopping_{false};
  const std::function<bool()> run_going_;
  // Last: its threads end before the rest goes.
  std::unique_ptr<WorkAhead> work_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_LOOK_AHEAD_H_
