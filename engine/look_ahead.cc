#include "engine/look_ahead.h"

#include <errno.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "engine/folder_cursor.h"
#include "engine/folder_scan.h"

namespace ferrybox {
namespace {

constexpr int kLookAhead = 64;
// Enough to keep a share a millisecond away busy; a local disk gains
// little beyond two.
constexpr int kMaxThreads = 8;
constexpr std::chrono::milliseconds kWaitSlice{50};

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

// One thread's own open folders on both sides: moving between folders is
// rare, as the files come folder by folder.
class AheadReader {
 public:
  AheadReader(Platform& platform, const AheadRoots& roots)
      : source_(platform), destination_(platform) {
    if (roots.source_root != kNoHandle)
      source_open_ = source_.OpenRootAt(roots.source_root) == 0;
    if (roots.destination_root != kNoHandle)
      destination_open_ = destination_.OpenRootAt(roots.destination_root) == 0;
  }
  FolderCursor* Source(std::string_view folder) {
    return source_open_ && source_.MoveTo(folder) == 0 ? &source_ : nullptr;
  }
  FolderCursor* Destination(std::string_view folder) {
    return destination_open_ && destination_.MoveTo(folder) == 0 ? &destination_
                                                                 : nullptr;
  }

 private:
  FolderCursor source_;
  FolderCursor destination_;
  bool source_open_ = false;
  bool destination_open_ = false;
};

LookAhead::LookAhead(Platform& platform, const std::vector<std::string>& files,
                     const AheadRoots& roots, int depth)
    : platform_(platform),
      files_(files),
      roots_(roots),
      depth_(static_cast<size_t>(std::max(depth, 1))),
      slots_(std::make_unique<Slot[]>(depth_)) {
  const size_t threads =
      std::min({depth_, static_cast<size_t>(kMaxThreads), files.size()});
  threads_.reserve(threads);
  for (size_t i = 0; i < threads; ++i)
    threads_.emplace_back([this] { Work(); });
}

LookAhead::~LookAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void LookAhead::Work() {
  AheadReader reader(platform_, roots_);
  for (;;) {
    const size_t index = next_claim_.fetch_add(1);
    if (index >= files_.size() || stopping_) return;
    if (index >= taken_.load() + depth_) {
      std::unique_lock lock(mutex_);
      ++threads_waiting_;
      room_.wait(lock,
                 [&] { return stopping_ || index < taken_.load() + depth_; });
      --threads_waiting_;
      if (stopping_) return;
    }
    Slot& slot = slots_[index % depth_];
    Read(index, &slot.status, reader);
    slot.ready.store(index + 1);
    if (run_waiting_.load()) {
      std::lock_guard lock(mutex_);
      done_.notify_one();
    }
  }
}

void LookAhead::Read(size_t index, AheadStatus* status, AheadReader& reader) {
  *status = AheadStatus{};
  const std::string& path = files_[index];
  if (!path.starts_with(roots_.source_prefix) ||
      path.size() == roots_.source_prefix.size())
    return;
  const std::string_view relative =
      std::string_view(path).substr(roots_.source_prefix.size());
  const size_t cut = relative.rfind(kSeparator);
  const std::string_view folder = cut == std::string_view::npos
                                      ? std::string_view()
                                      : relative.substr(0, cut);
  const std::string name(
      cut == std::string_view::npos ? relative : relative.substr(cut + 1));
  if (FolderCursor* source = reader.Source(folder)) {
    status->source_error =
        StatSourceEntry(platform_, source->current(), name, &status->source);
    status->source_read = true;
  }
  if (!look_at_destinations_.load(std::memory_order_relaxed)) return;
  if (FolderCursor* destination = reader.Destination(folder)) {
    status->destination_error = platform_.Stat(destination->current(), name,
                                               false, &status->destination);
    status->destination_looked = true;
  }
}

const AheadStatus* LookAhead::Take(size_t index,
                                   const std::function<bool()>& while_waiting) {
  // Done with the file before: its slot may be filled again.
  taken_.store(index);
  if (threads_waiting_.load() > 0) {
    std::lock_guard lock(mutex_);
    room_.notify_all();
  }
  Slot& slot = slots_[index % depth_];
  if (slot.ready.load() == index + 1) return &slot.status;
  std::unique_lock lock(mutex_);
  run_waiting_ = true;
  while (slot.ready.load() != index + 1) {
    if (done_.wait_for(lock, kWaitSlice) != std::cv_status::timeout) continue;
    lock.unlock();
    const bool go_on = while_waiting();
    lock.lock();
    if (!go_on) {
      run_waiting_ = false;
      return nullptr;
    }
  }
  run_waiting_ = false;
  return &slot.status;
}

}  // namespace ferrybox
