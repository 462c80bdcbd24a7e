#include "engine/look_ahead.h"

#include <errno.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

#include "engine/folder_scan.h"
#include "engine/folder_walk.h"
#include "engine/scoped_handle.h"

namespace ferrybox {
namespace {

constexpr int kLookAhead = 256;
// Enough to keep a share a millisecond away busy; a local disk gains
// little beyond two.
constexpr int kMaxThreads = 8;
constexpr std::chrono::milliseconds kWaitSlice{50};
// Far longer than a status read from memory takes.
constexpr std::chrono::microseconds kSlowRead{500};
// A few slow reads are a busy processor; many are a slow disk.
constexpr int kSlowReadsPerThread = 8;
// Files copied ahead are small ones, whose copies cost more in calls than
// in bytes; a big file is copied by the run itself, which can break it off.
constexpr int64_t kCopyAheadFileBytes = 4 << 20;
constexpr int64_t kCopyAheadBytes = 64 << 20;

// The folder part of a collected path below `prefix`, and its name.
std::pair<std::string_view, std::string_view> FolderAndName(
    std::string_view path, std::string_view prefix) {
  const std::string_view relative = path.substr(prefix.size());
  const size_t cut = relative.rfind(kSeparator);
  if (cut == std::string_view::npos) return {{}, relative};
  return {relative.substr(0, cut), relative.substr(cut + 1)};
}

}  // namespace

int DefaultLookAhead() {
  const char* text = std::getenv("FERRYBOX_LOOK_AHEAD");
  if (text == nullptr || *text == '\0') return kLookAhead;
  int depth = 0;
  const char* end = text + std::strlen(text);
  const auto [last, error] = std::from_chars(text, end, depth);
  if (error != std::errc() || last != end || depth < 0) return kLookAhead;
  return std::min(depth, 4096);
}

int StatSourceEntry(Platform& platform, Handle folder, const std::string& name,
                    FileInfo* info) {
  const int error = platform.Stat(folder, name, false, info);
  if (error != 0) return error;
  return info->type == EntryType::kFile || info->type == EntryType::kLink
             ? 0
             : kErrorNotAFile;
}

// The folders the threads read in, each opened once for all of them: the
// files come folder by folder, and the threads work on neighbouring files.
class SharedFolders {
 public:
  SharedFolders(Platform& platform, Handle root)
      : platform_(platform), root_(platform) {
    if (root != kNoHandle)
      (void)platform.Open(root, ".", OpenMode::kFolder, root_.out());
  }

  /// The folder `relative` below the root, open; nullptr when it cannot be
  /// reached. No level below the root may be a link.
  std::shared_ptr<const ScopedHandle> Get(std::string_view relative) {
    if (!root_.valid()) return nullptr;
    std::lock_guard lock(mutex_);
    for (const Recent& recent : recent_)
      if (recent.known && recent.relative == relative) return recent.folder;
    // Walked down to from the deepest folder open above it, which is held
    // here: its slot may be the one taken over below.
    std::shared_ptr<const ScopedHandle> start;
    std::string_view rest = relative;
    for (const Recent& recent : recent_) {
      const std::string& above = recent.relative;
      if (recent.folder && !above.empty() && relative.size() > above.size() &&
          relative.starts_with(above) && relative[above.size()] == kSeparator &&
          relative.size() - above.size() < rest.size()) {
        start = recent.folder;
        rest = relative.substr(above.size());
      }
    }
    Handle out = kNoHandle;
    Recent& slot = recent_[next_++ % recent_.size()];
    slot.known = true;
    slot.relative = relative;
    slot.folder = nullptr;
    if (WalkFolders(platform_, start ? start->get() : root_.get(), rest,
                    WalkRules{}, &out) == 0)
      slot.folder = std::make_shared<ScopedHandle>(platform_, out);
    return slot.folder;
  }

 private:
  struct Recent {
    bool known = false;
    std::string relative;
    // nullptr for a folder that could not be reached.
    std::shared_ptr<const ScopedHandle> folder;
  };
  Platform& platform_;
  ScopedHandle root_;
  std::mutex mutex_;
  std::array<Recent, 4> recent_;
  size_t next_ = 0;
};

// A thread's hold on the folder it reads in, so that it asks the shared
// folders only when its files move to another folder.
class FolderHold {
 public:
  explicit FolderHold(SharedFolders* folders) : folders_(folders) {}
  const ScopedHandle* Get(std::string_view relative) {
    if (!held_ || relative != relative_) {
      folder_ = folders_->Get(relative);
      relative_ = relative;
      held_ = true;
    }
    return folder_.get();
  }

 private:
  SharedFolders* folders_;
  bool held_ = false;
  std::string relative_;
  std::shared_ptr<const ScopedHandle> folder_;
};

struct LookAhead::Reader {
  FolderHold source;
  FolderHold destination;
};

LookAhead::LookAhead(Platform& platform, const std::vector<std::string>& files,
                     const AheadRoots& roots, int depth)
    : platform_(platform),
      files_(files),
      roots_(roots),
      depth_(static_cast<size_t>(std::max(depth, 1))),
      slots_(std::make_unique<Slot[]>(depth_)),
      source_folders_(
          std::make_unique<SharedFolders>(platform, roots.source_root)),
      destination_folders_(
          std::make_unique<SharedFolders>(platform, roots.destination_root)),
      look_at_destinations_(roots.look_at_destinations),
      copy_ahead_(roots.copy_ahead),
      max_threads_(
          std::min({depth_, static_cast<size_t>(kMaxThreads), files.size()})) {
  threads_.reserve(max_threads_);
  // One thread per processor keeps them busy while the files are in memory.
  const unsigned processors = std::max(std::thread::hardware_concurrency(), 1u);
  for (unsigned i = 0; i < processors; ++i) AddThread();
}

void LookAhead::AddThread() {
  if (threads_.size() >= max_threads_) return;
  // A process out of threads (a limit on its user) reads with fewer.
  try {
    threads_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
  }
}

LookAhead::~LookAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  // Copies made ahead of a run that did not come to them.
  for (size_t i = 0; i < depth_; ++i) {
    Slot& slot = slots_[i];
    const uint64_t state = slot.copy_state.load();
    if (state % 4 == kCopied && slot.copy.error == 0 && slot.copy.folder)
      platform_.Remove(slot.copy.folder->get(), slot.copy.copy.temp_name);
  }
}

void LookAhead::Work() {
  Reader reader{FolderHold(source_folders_.get()),
                FolderHold(destination_folders_.get())};
  for (;;) {
    uint64_t hint = copy_hint_.load();
    if (CopyWork(reader)) continue;
    const size_t index = next_claim_.fetch_add(1);
    if (stopping_) return;
    if (index >= files_.size()) {
      // No more statuses to read; copies may still come up.
      for (;;) {
        std::unique_lock lock(mutex_);
        WaitForWork(lock, hint, [] { return false; });
        if (stopping_) return;
        lock.unlock();
        hint = copy_hint_.load();
        while (CopyWork(reader)) hint = copy_hint_.load();
      }
    }
    while (index >= taken_.load() + depth_) {
      std::unique_lock lock(mutex_);
      WaitForWork(lock, hint, [&] { return index < taken_.load() + depth_; });
      if (stopping_) return;
      lock.unlock();
      hint = copy_hint_.load();
      while (CopyWork(reader)) hint = copy_hint_.load();
    }
    if (stopping_) return;
    Slot& slot = slots_[index % depth_];
    const auto start = std::chrono::steady_clock::now();
    Read(index, &slot.status, reader);
    if (std::chrono::steady_clock::now() - start >= kSlowRead) ++slow_reads_;
    slot.copy_state.store(Tag(index, kNoCopy));
    slot.ready.store(index + 1);
    // Only the statuses the run waits for are worth waking it.
    if (run_needs_.load() == index + 1 || run_waits_for_.load() == index + 1) {
      std::lock_guard lock(mutex_);
      done_.notify_one();
    }
  }
}

void LookAhead::WaitForWork(std::unique_lock<std::mutex>& lock,
                            uint64_t copy_hint,
                            const std::function<bool()>& done) {
  ++threads_waiting_;
  room_.wait(lock, [&] {
    return stopping_ || done() || copy_hint_.load() != copy_hint;
  });
  --threads_waiting_;
}

bool LookAhead::CopyWork(Reader& reader) {
  if (!copy_ahead_.load(std::memory_order_relaxed) || stopping_) return false;
  size_t index = 0;
  std::shared_ptr<const ScopedHandle> folder;
  {
    std::lock_guard lock(mutex_);
    if (!ready_folder_) return false;
    index = std::max(copy_next_, taken_.load());
    for (;; ++index) {
      copy_next_ = index;
      if (index >= files_.size() || index >= taken_.load() + depth_)
        return false;
      Slot& slot = slots_[index % depth_];
      if (slot.ready.load() != index + 1) return false;  // not read yet
      const AheadStatus& status = slot.status;
      if (!status.source_read || status.source_error != 0 ||
          status.source.type != EntryType::kFile ||
          status.source.size > kCopyAheadFileBytes)
        continue;
      // The run has not come to its folder yet.
      if (FolderAndName(files_[index], roots_.source_prefix).first !=
          ready_relative_)
        return false;
      if (bytes_ahead_ + status.source.size > kCopyAheadBytes) return false;
      uint64_t expected = Tag(index, kNoCopy);
      if (!slot.copy_state.compare_exchange_strong(expected,
                                                   Tag(index, kCopying)))
        continue;  // the run took it
      bytes_ahead_ += status.source.size;
      copy_next_ = index + 1;
      folder = ready_folder_;
      break;
    }
  }
  Slot& slot = slots_[index % depth_];
  const auto [relative, name] =
      FolderAndName(files_[index], roots_.source_prefix);
  slot.copy = AheadCopy{};
  slot.copy.folder = folder;
  const CopyControl control{[this] { return !stopping_.load(); }};
  if (const ScopedHandle* source = reader.source.Get(relative)) {
    slot.copy.error = PrepareCopyAt(platform_, source->get(), std::string(name),
                                    slot.status.source, folder->get(),
                                    &slot.copy.copy, &control);
  } else {
    slot.copy.error = ENOENT;
  }
  slot.copy_state.store(Tag(index, kCopied));
  if (run_waits_for_copy_.load() == index + 1) {
    std::lock_guard lock(mutex_);
    done_.notify_one();
  }
  return true;
}

void LookAhead::FolderReady(std::string_view relative, Handle folder) {
  // Called for every file: the lock only when the folder changes.
  if (ready_known_ && relative == ready_seen_) return;
  ready_known_ = true;
  ready_seen_ = relative;
  std::lock_guard lock(mutex_);
  ready_relative_ = relative;
  auto handle = std::make_shared<ScopedHandle>(platform_);
  ready_folder_ = nullptr;
  if (platform_.Open(folder, ".", OpenMode::kFolder, handle->out()) == 0)
    ready_folder_ = std::move(handle);
  ++copy_hint_;
  room_.notify_all();
}

bool LookAhead::TakeCopy(size_t index,
                         const std::function<bool()>& while_waiting,
                         std::optional<AheadCopy>* copy) {
  copy->reset();
  Slot& slot = slots_[index % depth_];
  uint64_t expected = Tag(index, kNoCopy);
  if (slot.copy_state.compare_exchange_strong(expected, Tag(index, kTaken)))
    return true;
  if (expected != Tag(index, kCopied)) {
    std::unique_lock lock(mutex_);
    run_waits_for_copy_ = index + 1;
    while (slot.copy_state.load() != Tag(index, kCopied)) {
      if (done_.wait_for(lock, kWaitSlice) != std::cv_status::timeout) continue;
      lock.unlock();
      const bool go_on = while_waiting();
      lock.lock();
      if (!go_on) {
        run_waits_for_copy_ = 0;
        return false;
      }
    }
    run_waits_for_copy_ = 0;
  }
  *copy = std::move(slot.copy);
  slot.copy_state.store(Tag(index, kTaken));
  {
    std::lock_guard lock(mutex_);
    bytes_ahead_ -= slot.status.source.size;
  }
  return true;
}

void LookAhead::Read(size_t index, AheadStatus* status, Reader& reader) {
  *status = AheadStatus{};
  const std::string& path = files_[index];
  if (!path.starts_with(roots_.source_prefix) ||
      path.size() == roots_.source_prefix.size())
    return;
  const auto [folder, entry] = FolderAndName(path, roots_.source_prefix);
  const std::string name(entry);
  if (const ScopedHandle* source = reader.source.Get(folder)) {
    status->source_error =
        StatSourceEntry(platform_, source->get(), name, &status->source);
    status->source_read = true;
  }
  if (!look_at_destinations_.load(std::memory_order_relaxed)) return;
  if (const ScopedHandle* destination = reader.destination.Get(folder)) {
    status->destination_error =
        platform_.Stat(destination->get(), name, false, &status->destination);
    status->destination_looked = true;
  }
}

const AheadStatus* LookAhead::Take(size_t index,
                                   const std::function<bool()>& while_waiting) {
  // Done with the file before: its slot may be filled again. Waking a
  // thread for every slot would cost more than the reading it saves.
  taken_.store(index);
  if (index % std::max<size_t>(depth_ / 2, 1) == 0) WakeThreads();
  Slot& slot = slots_[index % depth_];
  if (slot.ready.load() == index + 1) return &slot.status;
  // Threads waiting for room must not wait for the next batch now.
  WakeThreads();
  // Waking for every status would cost more than the reading saves: wait
  // for a good part of the window, or as long as the next status takes.
  const size_t target = std::min(index + depth_ / 2, files_.size() - 1);
  auto ready = [this](size_t at) {
    return slots_[at % depth_].ready.load() == at + 1;
  };
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  run_needs_ = index + 1;
  run_waits_for_ = target + 1;
  while (!ready(index) || !ready(target)) {
    if (done_.wait_for(lock, kWaitSlice) != std::cv_status::timeout) continue;
    if (ready(index)) break;
    lock.unlock();
    const bool go_on = while_waiting();
    lock.lock();
    if (!go_on) {
      run_needs_ = run_waits_for_ = 0;
      return nullptr;
    }
  }
  run_needs_ = 0;
  run_waits_for_ = 0;
  lock.unlock();
  // The run waited on the disk or the network, not on the threads' own
  // work (nor on a busy processor): one more thread keeps one more request
  // under way.
  const int slow_reads = slow_reads_.load();
  if (std::chrono::steady_clock::now() - start >= kSlowRead &&
      slow_reads - slow_reads_seen_ >= kSlowReadsPerThread) {
    slow_reads_seen_ = slow_reads;
    AddThread();
  }
  return &slot.status;
}

void LookAhead::WakeThreads() {
  if (threads_waiting_.load() == 0) return;
  std::lock_guard lock(mutex_);
  ++copy_hint_;
  room_.notify_all();
}

}  // namespace ferrybox
