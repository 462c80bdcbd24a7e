// Reading, and copying, the next files while the run works on this one.
#ifndef FERRYBOX_ENGINE_LOOK_AHEAD_H_
#define FERRYBOX_ENGINE_LOOK_AHEAD_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/copy_failure.h"
#include "engine/file_copy.h"
#include "engine/platform.h"
#include "engine/scoped_handle.h"

namespace ferrybox {

/// Files looked at ahead of the run when nothing else is said; 0 turns
/// looking ahead off. The environment variable FERRYBOX_LOOK_AHEAD, when set
/// to a number, replaces it.
int DefaultLookAhead();

class SharedFolders;

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

/// A copy of a file made ahead of the run, under a temporary name in its
/// destination folder; the run puts it in place or removes it.
struct AheadCopy {
  /// 0 when `copy` waits in `folder`; otherwise why the copy failed, and
  /// nothing was left behind.
  int error = 0;
  PreparedCopy copy;
  std::shared_ptr<const ScopedHandle> folder;
};

/// Where the files lie, for the threads that look at them.
struct AheadRoots {
  /// The source path of every file starts with this prefix (the source root
  /// with its trailing separator).
  std::string source_prefix;
  /// The source root, open. Stays open for the life of the LookAhead.
  Handle source_root = kNoHandle;
  /// The destination root, open; kNoHandle while it does not exist, when
  /// destinations are not looked at.
  Handle destination_root = kNoHandle;
  /// Whether destination entries are worth looking up from the start.
  bool look_at_destinations = false;
  /// Whether files are worth copying ahead from the start (a full backup
  /// copies every file).
  bool copy_ahead = false;
};

/// A few threads read, in collection order and at most `depth` files ahead
/// of the run, the status of each source file and of its destination entry,
/// so that the waiting for the disk (or for a network share) overlaps; in a
/// full backup they also copy the next small files of the destination folder
/// the run works in under temporary names. The run takes each file's status
/// and copy in order; nothing the threads do shows, a status read ahead that
/// the run cannot trust is read again by the run, and only the run puts a
/// copy in place. Threads call `platform` at the same time, which must allow
/// that.
class LookAhead {
 public:
  /// `files` is the run's collected list; it and `platform` outlive this.
  LookAhead(Platform& platform, const std::vector<std::string>& files,
            const AheadRoots& roots, int depth);
  /// Stops the threads and waits for them: at most the files being read.
  ~LookAhead();
  LookAhead(const LookAhead&) = delete;
  LookAhead& operator=(const LookAhead&) = delete;

  /// False when not one thread could be started: then nothing is read
  /// ahead, and the run must read each file in its turn.
  bool working() const { return !threads_.empty(); }

  /// Whether destination entries are worth looking up (an incremental run
  /// compares them); the run says so as it reads the option.
  void LookAtDestinations(bool look) { look_at_destinations_ = look; }

  /// Whether files are worth copying ahead; the run says so as it reads the
  /// option.
  void CopyAhead(bool copy) { copy_ahead_ = copy; }

  /// The run has checked (and made) the destination folder `relative`,
  /// open as `folder`, and works in it: the next files of that folder may be
  /// copied into it ahead of their turn.
  void FolderReady(std::string_view relative, Handle folder);

  /// The status of file `index`, which must be the one after the previous
  /// call's (from 0). Waits for it, calling `while_waiting` every 50 ms or
  /// so; when that returns false, gives up and returns nullptr. The status
  /// stays valid until the next call.
  const AheadStatus* Take(size_t index,
                          const std::function<bool()>& while_waiting);

  /// After Take(index): the copy of file `index` made ahead, in `*copy`, or
  /// nothing; from now on no thread starts one. Waits for a copy under way
  /// as Take does; false when `while_waiting` gave up (that copy is then
  /// removed with the others not taken). The run puts a copy it gets in
  /// place or removes it.
  bool TakeCopy(size_t index, const std::function<bool()>& while_waiting,
                std::optional<AheadCopy>* copy);

 private:
  // Where a slot's copy stands, with the slot's index: (index + 1) * 4 +
  // state, so that no one mistakes the copy of an earlier use of the slot.
  enum CopyState : uint64_t { kNoCopy, kCopying, kCopied, kTaken };
  static uint64_t Tag(size_t index, CopyState state) {
    return (static_cast<uint64_t>(index) + 1) * 4 + state;
  }
  struct Slot {
    // index + 1 of the status held, 0 while empty.
    std::atomic<size_t> ready{0};
    AheadStatus status;
    std::atomic<uint64_t> copy_state{0};
    AheadCopy copy;
  };
  void AddThread();
  void WakeThreads();
  void Work();
  struct Reader;
  void Read(size_t index, AheadStatus* status, Reader& reader);
  bool CopyWork(Reader& reader);
  // Waits for room, or for copy work when `copy_hint` moved on.
  void WaitForWork(std::unique_lock<std::mutex>& lock, uint64_t copy_hint,
                   const std::function<bool()>& done);

  Platform& platform_;
  const std::vector<std::string>& files_;
  const AheadRoots roots_;
  const size_t depth_;
  std::unique_ptr<Slot[]> slots_;
  std::unique_ptr<SharedFolders> source_folders_;
  std::unique_ptr<SharedFolders> destination_folders_;
  std::atomic<bool> look_at_destinations_{false};
  std::atomic<bool> copy_ahead_{false};
  // The destination folder the run works in (under `mutex_`); the next file
  // to consider for a copy ahead; the bytes copied ahead and not yet taken.
  std::string ready_relative_;
  std::shared_ptr<const ScopedHandle> ready_folder_;
  size_t copy_next_ = 0;
  int64_t bytes_ahead_ = 0;
  // The folder last made ready, as the run's own thread knows it.
  bool ready_known_ = false;
  std::string ready_seen_;
  // Moves on whenever copy work may have come up (under `mutex_`).
  std::atomic<uint64_t> copy_hint_{0};
  // index + 1 of the copy the run waits for, 0 while it does not.
  std::atomic<size_t> run_waits_for_copy_{0};
  std::atomic<bool> stopping_{false};
  // The next file a thread may take up, and the first the run has not taken.
  std::atomic<size_t> next_claim_{0};
  std::atomic<size_t> taken_{0};
  // Waiting on either side: threads for room, the run for a status.
  std::mutex mutex_;
  std::condition_variable room_;
  std::condition_variable done_;
  std::atomic<int> threads_waiting_{0};
  // index + 1 of the status the run needs, and of the last one it waits
  // for; 0 while it does not wait.
  std::atomic<size_t> run_needs_{0};
  std::atomic<size_t> run_waits_for_{0};
  // Reads that took long, and how many the run had seen when it last added
  // a thread.
  std::atomic<int> slow_reads_{0};
  int slow_reads_seen_ = 0;
  // One thread per processor to begin with; another each time the run
  // waited long on slow reads.
  const size_t max_threads_;
  std::vector<std::thread> threads_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_LOOK_AHEAD_H_
