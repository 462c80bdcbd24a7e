// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/look_ahead.h"

#include <errno.h>

#include <algorithm>
#include <charconv>

#include "engine/folder_cursor.h"
#include "engine/path_names.h"
#include "platform/environment.h"
#include "platform/failure.h"

namespace ferrybox {
namespace {

constexpr int kLookAhead = 256;
// Files a thread takes up at once: handing them over one by one costs more
// than reading them.
constexpr size_t kBatch = 16;

}  // namespace

int DefaultLookAhead() {
  return static_cast<int>(
      EnvironmentNumber("FERRYBOX_LOOK_AHEAD", kLookAhead, 0, 4096));
}

int StatSourceEntry(Platform& platform, Handle folder, const std::string& name,
                    FileInfo* info) {
  const int error = platform.Stat(folder, name, false, info);
  if (error != 0) return error;
  return info->type == EntryType::kFile || info->type == EntryType::kLink
             ? 0
             : kErrorNotAFile;
}

// A thread's own open folders: its files come folder by folder.
struct LookAhead::Reader {
  explicit Reader(Platform& platform)
      : source(platform), destination(platform) {}
  bool opened = false;
  int source_error = 0;
  int destination_error = 0;
  FolderCursor source;
  FolderCursor destination;
  // The last folder each could not reach, tried once for all its files.
  std::string source_missing, destination_missing;
  bool source_failed = false, destination_failed = false;
};

namespace {

// Moves `cursor` to `folder` unless that failed for the file before.
bool Reach(FolderCursor& cursor, int root_error, std::string_view folder,
           bool* failed, std::string* missing,
           const std::function<bool()>& keep_going) {
  if (root_error != 0) return false;
  if (*failed && folder == *missing) return false;
  *failed = cursor.MoveTo(folder, false, &keep_going) != 0;
  if (*failed) *missing = folder;
  return !*failed;
}

}  // namespace

LookAhead::LookAhead(Platform& platform, const std::vector<std::string>& files,
                     AheadRoots roots, int depth,
                     std::function<bool()> run_going)
    : platform_(platform),
      files_(files),
      roots_(std::move(roots)),
      statuses_(static_cast<size_t>(std::max(depth, 1))),
      run_going_(std::move(run_going)) {
  for (size_t i = 0; i < WorkAhead::MaxThreads(); ++i)
    readers_.push_back(std::make_unique<Reader>(platform));
  const size_t window = statuses_.size();
  work_ = std::make_unique<WorkAhead>(
      files.size(), window, std::clamp<size_t>(window / 4, 1, kBatch),
      [this](size_t worker, size_t index) { Read(*readers_[worker], index); });
}

LookAhead::~LookAhead() {
  stopping_ = true;
  work_.reset();
}

void LookAhead::Read(Reader& reader, size_t index) {
  AheadStatus& status = statuses_[index % statuses_.size()];
  status = AheadStatus{};
  const std::string_view path = files_[index];
  const std::string_view prefix = roots_.source_prefix;
  if (!path.starts_with(prefix) || path.size() == prefix.size()) return;
  if (!reader.opened) {
    reader.opened = true;
    reader.source_error = reader.source.OpenRootAt(roots_.source_root);
    reader.destination_error =
        roots_.destination_root == kNoHandle
            ? EBADF
            : reader.destination.OpenRootAt(roots_.destination_root);
  }
  const std::string_view relative = path.substr(prefix.size());
  const auto [folder, leaf] = SplitRelative(relative);
  const std::string name(leaf);
  // A run that ends waits for the reads under way: on a share each level
  // and each status is a round trip, so none begins once it ends.
  const std::function<bool()> keep_going = [this] {
    return !stopping_ && (!run_going_ || run_going_());
  };
  if (Reach(reader.source, reader.source_error, folder, &reader.source_failed,
            &reader.source_missing, keep_going)) {
    status.source_error = StatSourceEntry(platform_, reader.source.current(),
                                          name, &status.source);
    status.source_read = true;
  }
  if (keep_going() &&
      Reach(reader.destination, reader.destination_error, folder,
            &reader.destination_failed, &reader.destination_missing,
            keep_going) &&
      keep_going()) {
    status.destination_error = platform_.Stat(reader.destination.current(),
                                              name, false, &status.destination);
    status.destination_looked = true;
  }
}

const AheadStatus* LookAhead::Take(size_t index,
                                   const std::function<bool()>& while_waiting) {
  if (!work_->Take(index, while_waiting)) return nullptr;
  return &statuses_[index % statuses_.size()];
}

}  // namespace ferrybox
