// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/destination_folders.h"

#include <errno.h>
#include <strings.h>

#include <algorithm>

#include "engine/attributes.h"
#include "engine/folder_walk.h"
#include "engine/path_names.h"
#include "platform/failure.h"
#include "platform/temp_name.h"

namespace ferrybox {

DestinationFolders::DestinationFolders(Platform& platform,
                                       DestinationRoot& root)
    : platform_(platform),
      root_(root),
      cursor_(platform),
      not_source_(
          [&root](Handle folder) { return root.CheckNotSource(folder); }) {
  // Nothing is written in a folder of the source, nor below it.
  cursor_.SetLevelCheck(&not_source_);
}

int DestinationFolders::Enter(std::string_view relative) {
  return EnterUnlessStopped(relative, keep_going_);
}

int DestinationFolders::EnterForCopy(std::string_view relative) {
  return EnterUnlessStopped(relative, nullptr);
}

int DestinationFolders::EnterUnlessStopped(
    std::string_view relative, const std::function<bool()>* keep_going) {
  const int error = EnterFolder(relative, keep_going);
  // Missing because it could not be made: its files fail for that reason.
  if (error == ENOENT && create_error_ != 0 &&
      failed_relative_.starts_with(relative) &&
      (relative.empty() || failed_relative_.size() == relative.size() ||
       failed_relative_[relative.size()] == kSeparator))
    return create_error_;
  return error;
}

int DestinationFolders::EnterFolder(std::string_view relative,
                                    const std::function<bool()>* keep_going) {
  if (entered_ && relative == entered_relative_) return 0;
  entered_ = false;
  names_.clear();
  listed_ = false;
  relisted_ = false;
  hands_on_.reset();
  if (!cursor_.has_root()) {
    if (const int error = root_.state()) return error;
    const int error = cursor_.OpenRootAt(root_.handle());
    if (error != 0) return error;
  }
  const int error = cursor_.MoveTo(relative, false, keep_going);
  if (error != 0) return error;
  if (StopAsked(keep_going)) return kErrorStopped;
  entered_ = true;
  entered_relative_ = relative;
  listed_ = List() == 0;
  return 0;
}

FolderState DestinationFolders::Check(std::string_view relative) {
  const int error = EnterUnlessStopped(relative, keep_going_);
  if (error == 0) return FolderState::kPresent;
  if (error == ENOENT) return FolderState::kMissing;
  return FolderState::kBlocked;
}

int DestinationFolders::Create(std::string_view relative) {
  entered_ = false;
  create_error_ = 0;
  if (dry_run_) {
    would_make_.emplace_back(relative);
    return 0;
  }
  int error = 0;
  if (!cursor_.has_root()) {
    error = root_.Create(keep_going_);
    in_use_ = error == EWOULDBLOCK;
    if (error == 0) error = cursor_.OpenRootAt(root_.handle());
  }
  if (error == 0)
    error = cursor_.MoveTo(relative, /*create_missing=*/true, keep_going_);
  if (error == 0) error = EnterFolder(relative, keep_going_);
  if (error != 0) {
    create_error_ = error;
    failed_relative_ = relative;
  }
  return error;
}

bool DestinationFolders::WouldMake(std::string_view relative) const {
  return std::any_of(would_make_.begin(), would_make_.end(),
                     [relative](const std::string& made) {
                       return relative.starts_with(made) &&
                              (made.empty() || relative.size() == made.size() ||
                               relative[made.size()] == kSeparator);
                     });
}

Handle DestinationFolders::Root() const {
  return root_.state() == 0 ? root_.handle() : kNoHandle;
}

bool DestinationFolders::HandsOnAttributes() {
  // The run changes a folder's attributes only once done with it.
  if (!hands_on_)
    hands_on_ = ferrybox::HandsOnAttributes(platform_, cursor_.current());
  return *hands_on_;
}

int DestinationFolders::List() {
  names_.clear();
  const int error = platform_.ListFolder(cursor_.current(), &names_, &id_);
  if (error != 0) {
    names_.clear();
    return error;
  }
  std::erase_if(names_, [this](const DirEntry& entry) {
    if (!IsTempName(entry.name)) return false;
    // Left by a run that was killed before it could rename or remove it.
    // One of this process is a copy under way: a nested run must not take
    // the file from under the copy it interrupted.
    if ((entry.type == EntryType::kFile || entry.type == EntryType::kLink ||
         entry.type == EntryType::kUnknown) &&
        !IsOwnTempName(entry.name) && !dry_run_)
      platform_.Remove(cursor_.current(), entry.name);
    return true;
  });
  std::sort(
      names_.begin(), names_.end(),
      [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return 0;
}

const DirEntry* DestinationFolders::Listed(const std::string& name) const {
  auto it = std::lower_bound(names_.begin(), names_.end(), name,
                             [](const DirEntry& entry, const std::string& key) {
                               return entry.name < key;
                             });
  return it != names_.end() && it->name == name ? &*it : nullptr;
}

FileLookup DestinationFolders::Lookup(const std::string& name) {
  if (!entered_) return {};
  FileInfo info;
  const int error = platform_.Stat(current(), name, false, &info);
  return LookupRead(name, error, info);
}

FileLookup DestinationFolders::LookupRead(const std::string& name,
                                          int stat_error,
                                          const FileInfo& info) {
  FileLookup lookup;
  if (!entered_ || stat_error != 0) return lookup;
  lookup.info = info;
  lookup.found = true;
  if (!listed_ || Listed(name) != nullptr) {
    lookup.stored_name = name;
    return lookup;
  }
  // Found, yet not listed: the listing is older than the file (a nested run
  // copied it), or the file system ignores letter case and stores the name
  // differently. One fresh listing per folder tells which.
  if (!relisted_) {
    relisted_ = true;
    listed_ = List() == 0;
    if (!listed_ || Listed(name) != nullptr) {
      lookup.stored_name = name;
      return lookup;
    }
  }
  for (const DirEntry& entry : names_) {
    if (entry.name.size() == name.size() &&
        strcasecmp(entry.name.c_str(), name.c_str()) == 0) {
      lookup.stored_name = entry.name;
      break;
    }
  }
  return lookup;
}

void DestinationFolders::Renamed(const std::string& from,
                                 const std::string& to) {
  const auto entry = std::find_if(
      names_.begin(), names_.end(),
      [&from](const DirEntry& listed) { return listed.name == from; });
  if (entry == names_.end()) return;
  DirEntry moved{to, entry->type};
  names_.erase(entry);
  names_.insert(std::lower_bound(names_.begin(), names_.end(), moved,
                                 [](const DirEntry& a, const DirEntry& b) {
                                   return a.name < b.name;
                                 }),
                std::move(moved));
}

std::vector<std::string> DestinationFolders::ListedNames() const {
  std::vector<std::string> names;
  names.reserve(names_.size());
  for (const DirEntry& entry : names_) names.push_back(entry.name);
  return names;
}

EntryType DestinationFolders::ListedType(const std::string& name) const {
  const DirEntry* entry = Listed(name);
  return entry == nullptr ? EntryType::kUnknown : entry->type;
}

}  // namespace ferrybox
