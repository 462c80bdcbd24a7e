// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/folder_finish.h"

#include "engine/folder_walk.h"
#include "engine/keep_owner.h"
#include "engine/path_names.h"
#include "engine/work_ahead.h"

namespace ferrybox {
namespace {

constexpr uint32_t kOwnerOnly = 0700;

// A destination folder may be written to as it is when it already has its
// source's bits and they let its owner in; any other is owner-only until
// it is finished.
bool Ready(const FileInfo& destination, const FileInfo& source) {
  return destination.mode == source.mode &&
         (destination.mode & kOwnerOnly) == kOwnerOnly;
}

// What safety needs after a stop. A folder left owner-only (as the run
// makes folders) or with its source's bits grants no one anything its
// source folder does not, whoever owns it; only one whose bits grant more
// (a folder of a read-only source, opened to its owner for the run) must be
// finished before the run ends.
bool MoreOpenThanSource(uint32_t mode, const FileInfo& source) {
  return (mode & ~source.mode & 07777) != 0;
}

}  // namespace

FolderFinisher::FolderFinisher(Platform& platform, FailureReport on_failure)
    : platform_(platform), on_failure_(std::move(on_failure)) {}

std::string_view FolderFinisher::PathOf(size_t index) const {
  return std::string_view(path_).substr(0, levels_[index].end);
}

bool FolderFinisher::Contains(size_t index, std::string_view relative) const {
  const std::string_view path = PathOf(index);
  if (path.empty()) return true;  // the roots
  return relative.starts_with(path) && (relative.size() == path.size() ||
                                        relative[path.size()] == kSeparator);
}

bool FolderFinisher::Leaves(std::string_view relative) const {
  if (levels_.empty() || relative == path_) return false;
  for (size_t index = 0; index < levels_.size(); ++index)
    if (!Contains(index, relative)) return true;
  return false;
}

bool FolderFinisher::Stopped() const { return StopAsked(keep_going_); }

void FolderFinisher::Reach(std::string_view relative, FolderCursor& source,
                           Handle destination_root) {
  if (!levels_.empty() && relative == path_) return;
  size_t kept = 0;
  while (kept < levels_.size() && Contains(kept, relative)) ++kept;
  if (kept < levels_.size()) {
    const bool stopped = Stopped();
    // A level or two left as the run moves on, finished on its thread:
    // threads started for them cost more than they save on a local disk.
    FinishFrom(kept, destination_root, stopped, /*together=*/false);
    if (stopped) return;
  }
  path_.assign(relative);
  size_t pos = 0;
  if (levels_.empty()) {
    levels_.emplace_back(platform_, 0);
  } else {
    pos = levels_.back().end;
  }
  for (;;) {
    // The level just added, or the one the run goes on in.
    const size_t index = levels_.size() - 1;
    Level& level = levels_[index];
    // After a stop no folder is taken on: it is neither opened nor changed.
    if (!level.known && !level.destination.valid() && Stopped()) {
      levels_.pop_back();
      path_.resize(levels_.empty() ? 0 : levels_.back().end);
      return;
    }
    if (!level.known && !level.destination.valid() &&
        source.MoveTo(PathOf(index)) == 0 &&
        platform_.Stat(source.current(), "", false, &level.source) == 0 &&
        level.source.type == EntryType::kFolder) {
      level.known = true;
      OpenDestination(index, destination_root);
      if (level.destination.valid()) {
        Prepare(index);
      } else {
        missing_ = true;
        level.attributes_due = true;
      }
      if (level.attributes_due)
        level.attributes_error =
            ReadAttributes(platform_, source.current(), "", &level.attributes);
    }
    while (pos < path_.size() && path_[pos] == kSeparator) ++pos;
    if (pos >= path_.size()) break;
    size_t end = path_.find(kSeparator, pos);
    if (end == std::string::npos) end = path_.size();
    levels_.emplace_back(platform_, end);
    pos = end;
  }
}

void FolderFinisher::Made(Handle destination_root) {
  if (!missing_) return;
  missing_ = false;
  for (size_t index = 0; index < levels_.size(); ++index) {
    Level& level = levels_[index];
    if (!level.known || level.destination.valid()) continue;
    // Made owner-only, a level left alone after a stop is safe as it is.
    if (Stopped()) return;
    OpenDestination(index, destination_root);
    if (level.destination.valid()) Prepare(index);
  }
}

void FolderFinisher::FinishAll(Handle destination_root, bool stopped) {
  if (!levels_.empty())
    FinishFrom(0, destination_root, stopped, /*together=*/true);
  missing_ = false;
}

void FolderFinisher::OpenDestination(size_t index, Handle destination_root) {
  Level& level = levels_[index];
  if (index == 0) {
    if (destination_root != kNoHandle)
      (void)platform_.Open(destination_root, ".", OpenMode::kFolder,
                           level.destination.out());
    return;
  }
  const Handle parent = levels_[index - 1].destination.get();
  if (parent == kNoHandle) return;
  const size_t start = levels_[index - 1].end;
  std::string_view name = PathOf(index).substr(start);
  while (!name.empty() && name.front() == kSeparator) name.remove_prefix(1);
  // Never through a link: one planted in the backup leads outside it.
  (void)platform_.Open(parent, std::string(name), OpenMode::kFolderNoFollow,
                       level.destination.out());
  if (level.destination.valid() && check_level_ != nullptr &&
      (*check_level_)(level.destination.get()) != 0)
    level.destination.reset();
}

void FolderFinisher::Prepare(size_t index) {
  Level& level = levels_[index];
  FileInfo now;
  if (platform_.Stat(level.destination.get(), "", false, &now) != 0) {
    level.attributes_due = true;
    level.mode = 07777;
    return;
  }
  level.mode = now.mode;
  // Setting an attribute stamps the destination's status-change time, so an
  // earlier one means the source's changed since. Times or bits unlike the
  // source's mean that, or a run that was stopped or killed before it
  // finished the folder.
  if (level.source.ctime > now.ctime || now.mtime != level.source.mtime ||
      now.mode != level.source.mode)
    level.attributes_due = true;
  if (Ready(now, level.source) || now.mode == kOwnerOnly) return;
  // Best effort: a folder that stays as it is gets its bits when finished.
  if (platform_.Finish(level.destination.get(), kOwnerOnly, now.atime,
                       now.mtime, nullptr) == 0)
    level.mode = kOwnerOnly;
}

void FolderFinisher::FinishFrom(size_t first, Handle destination_root,
                                bool stopped, bool together) {
  const auto due = [&](const Level& level) {
    return level.known &&
           (!stopped || MoreOpenThanSource(level.mode, level.source));
  };
  size_t end = first;  // past the deepest level to finish
  for (size_t index = first; index < levels_.size(); ++index)
    if (due(levels_[index])) end = index + 1;
  // From the top down: a level made since it was reached is opened through
  // the one above it.
  std::vector<size_t> finish;
  for (size_t index = first; index < end; ++index) {
    Level& level = levels_[index];
    if (level.known && !level.destination.valid())
      OpenDestination(index, destination_root);
    if (due(level) && level.destination.valid()) finish.push_back(index);
  }
  std::vector<int> errors(finish.size(), 0);
  const auto job = [&](size_t, size_t k) {
    errors[k] = FinishLevel(levels_[finish[k]]);
  };
  // A folder's bits, times and attributes are its own: setting them leaves
  // the folder above untouched, so the levels left at the end (on a share
  // each a few round trips) are finished at once.
  bool done = false;
  if (together && finish.size() > 1) {
    WorkAhead work(finish.size(), finish.size(), 1, job);
    if (work.Start(std::min(finish.size(), WorkAhead::MaxThreads()))) {
      for (size_t k = 0; k < finish.size(); ++k)
        (void)work.Take(k, [] { return true; });
      done = true;
    }
  }
  if (!done)
    for (size_t k = 0; k < finish.size(); ++k) job(0, k);
  for (size_t k = finish.size(); k-- > 0;)
    if (errors[k] != 0) on_failure_(std::string(PathOf(finish[k])), errors[k]);
  levels_.erase(levels_.begin() + static_cast<std::ptrdiff_t>(first),
                levels_.end());
  path_.resize(levels_.empty() ? 0 : levels_.back().end);
}

int FolderFinisher::FinishLevel(Level& level) {
  const Handle folder = level.destination.get();
  const FileInfo& source = level.source;
  FileInfo now;
  int error = platform_.Stat(folder, "", false, &now);
  if (error == 0 && (now.owner != source.owner || now.group != source.group))
    error = KeepOwner(platform_, folder, "", source);
  // Its owner first: a change of owner may clear set-id bits. Set with
  // the attributes, the bits also stamp the status-change time, so that
  // the next run finds the attributes up to date.
  if (error == 0 && (level.attributes_due || now.mode != source.mode ||
                     now.mtime != source.mtime)) {
    error = platform_.Finish(folder, source.mode, source.atime, source.mtime,
                             nullptr);
    if (AttributeRefused(error)) error = 0;
  }
  // After the bits, which recompute an access control list's mask.
  if (error == 0 && level.attributes_due) error = level.attributes_error;
  if (error == 0 && level.attributes_due)
    error = WriteAttributes(platform_, folder, "", level.attributes);
  return error;
}

}  // namespace ferrybox
