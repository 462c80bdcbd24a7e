// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/file_sync.h"

#include <errno.h>

#include <algorithm>
#include <optional>

#include "engine/copy_log.h"
#include "engine/file_copy.h"
#include "engine/folder_scan.h"
#include "engine/folder_walk.h"
#include "engine/link_copy.h"
#include "platform/scoped_handle.h"
#include "platform/temp_name.h"

namespace ferrybox {
namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == kSeparator) path.pop_back();
  return path;
}

// True when `folder` is `last` or a real ancestor of it, so that checking
// `last` also settled `folder`.
bool Covers(const std::string& last, const std::string& folder) {
  if (last.empty() || !last.starts_with(folder)) return false;
  if (last.size() == folder.size()) return true;
  return folder.back() == kSeparator || last[folder.size()] == kSeparator;
}

// A file gone since its status was read is reported as one whose status
// cannot be read.
bool Gone(int error) { return error == ENOENT || error == ENOTDIR; }

}  // namespace

bool SameFile(const FileLookup& source, const FileLookup& destination,
              int64_t time_step_ns) {
  if (!source.found || !destination.found) return false;
  if (destination.info.type != EntryType::kFile) return false;
  const bool same_length = source.info.size == destination.info.size;
  const bool same_time =
      SameTimeAtStep(source.info.mtime, destination.info.mtime, time_step_ns);
  const bool same_name = !destination.stored_name.empty() &&
                         source.stored_name == destination.stored_name;
  return same_length && same_time && same_name;
}

FileSync::FileSync(Platform& platform, Window& window, MessageLists& lists,
                   SyncState& state, const std::string& source_root,
                   const std::string& destination_root,
                   DestinationRoot& destination, std::string copy_log_path)
    : platform_(platform),
      window_(window),
      lists_(lists),
      state_(state),
      source_prefix_(TrailingSlash(source_root)),
      destination_prefix_(
          TrailingSlash(WithoutTrailingSlashes(destination_root))),
      copy_log_path_(std::move(copy_log_path)),
      source_(platform),
      destination_(platform, destination),
      time_steps_(platform),
      case_names_(platform),
      folders_(platform, [this](const std::string& relative, int error) {
        const std::string path =
            WithoutTrailingSlashes(source_prefix_ + relative);
        CopyFailed(path, DestinationPath(path), error);
      }) {
  source_root_error_ = source_.OpenRoot(source_root);
  folders_.SetLevelCheck(destination_.not_source());
}

FileSync::PathParts FileSync::Split(std::string_view source_path) const {
  PathParts parts;
  if (source_path.starts_with(source_prefix_)) {
    parts.relative = source_path.substr(source_prefix_.size());
  } else if (source_prefix_.size() == source_path.size() + 1 &&
             source_prefix_.starts_with(source_path)) {
    // The source root itself.
    parts.relative = {};
  } else {
    parts.relative = source_path;
  }
  const size_t name = static_cast<size_t>(lastslash(parts.relative));
  parts.folder = parts.relative.substr(0, name == 0 ? 0 : name - 1);
  parts.name = parts.relative.substr(name);
  return parts;
}

std::string FileSync::DestinationPath(std::string_view source_path) const {
  const PathParts parts = Split(source_path);
  if (parts.relative.empty())
    return WithoutTrailingSlashes(destination_prefix_);
  std::string path = destination_prefix_;
  path += parts.relative;
  return path;
}

int FileSync::StatSource(const std::string& source_path, FileInfo* info) {
  if (source_root_error_ != 0) return source_root_error_;
  const PathParts parts = Split(source_path);
  int error = source_.MoveTo(parts.folder);
  if (error != 0) return error;
  return StatSourceEntry(platform_, source_.current(), std::string(parts.name),
                         info);
}

AheadRoots FileSync::RootsForLookAhead(bool incremental) {
  AheadRoots roots;
  roots.source_prefix = source_prefix_;
  if (source_root_error_ == 0) roots.source_root = source_.root();
  if (incremental) roots.destination_root = destination_.Root();
  return roots;
}

bool FileSync::IsFolderPath(std::string_view source_path) {
  return !source_path.empty() && source_path.back() == kSeparator;
}

bool FileSync::ReachFolder(const PathParts& parts, bool* refused) {
  // Files arrive folder by folder: work the folder's path out once.
  if (!folder_known_ || parts.folder != folder_relative_) {
    folder_relative_ = parts.folder;
    destination_folder_ = destination_prefix_;
    destination_folder_ += parts.folder;
    destination_folder_ = WithoutTrailingSlashes(destination_folder_);
    folder_known_ = true;
  }

  // Settled before the folder is made or touched: a spelling that loses is
  // never made, and its source folder's bits and times never land on the
  // folder that won, which the same name opens where case is ignored.
  *refused = FolderClash(parts.folder);
  if (StopRequested()) return false;
  if (!*refused) folders_.Reach(parts.folder, source_, destination_.Root());
  if (!Covers(state_.LastCheckedFolder, destination_folder_)) {
    state_.LastCheckedFolder = destination_folder_;
    lists_.lp2(kCheckingFolder + destination_folder_);
    if (destination_.Check(parts.folder) == FolderState::kMissing &&
        !*refused) {
      lists_.lp2(kCreatingFolder + destination_folder_);
      // A folder that cannot be made shows as failed copies of its files.
      (void)destination_.Create(parts.folder);
    }
  }
  if (destination_.in_use()) return false;
  if (!*refused) folders_.Made(destination_.Root());
  return !StopRequested();
}

void FileSync::SyncFolder(const std::string& source_path) {
  const PathParts parts = Split(source_path);
  bool refused = false;
  if (!ReachFolder(parts, &refused)) return;
  // Nothing but the folder itself: a folder that cannot be made is a failed
  // copy of it.
  const int error =
      refused ? kErrorCaseClash : destination_.EnterForCopy(parts.folder);
  if (error != 0)
    CopyFailed(WithoutTrailingSlashes(source_path),
               WithoutTrailingSlashes(DestinationPath(source_path)), error);
}

int FileSync::SyncFile(const std::string& source_path, FileInfo* source,
                       const AheadStatus* ahead) {
  const PathParts parts = Split(source_path);
  incremental_ = window_.CheckValue(CheckBox::kCheck3) == 1;
  // A full backup copies every file: opened first, one gone since its
  // status was read ahead shows exactly as one whose status is read now.
  ScopedHandle in(platform_);
  int open_error = 0;
  if (!incremental_ && source->type == EntryType::kFile) {
    open_error = OpenSource(parts, &in, source);
    if (Gone(open_error)) return open_error;
  }

  // A file not begun is not begun after a stop.
  left_by_stop_ = false;
  if (StopRequested()) return LeftByStop();
  bool folder_clash = false;
  // After a stop nothing more is asked of the destination for this file:
  // on a share every question is a round trip.
  if (!ReachFolder(parts, &folder_clash))
    return destination_.in_use() ? 0 : LeftByStop();
  const bool case_clash = folder_clash || CaseClash(parts);

  const char* line = kNewFile;
  LinkGroup* group = case_clash ? nullptr : GroupOf(*source);
  if (incremental_ &&
      UpToDate(parts, *source, ahead, case_clash, &group, &line))
    return 0;
  if (StopRequested()) return LeftByStop();
  if (incremental_ && source->type == EntryType::kFile) {
    open_error = OpenSource(parts, &in, source);
    if (Gone(open_error)) return open_error;
  }
  const std::string destination_path = DestinationPath(source_path);
  lists_.lp2(line + destination_path);
  // A further name is linked to the group's copy; where the destination
  // cannot link (FAT, exFAT, a share), it is copied as a file of its own.
  if (group != nullptr && LinkName(parts, *group) == 0) {
    NameDone(parts.relative, *source, false, {});
  } else {
    const int error = CopyOneFile(source_path, parts, source, destination_path,
                                  case_clash, in, open_error);
    // A copy broken off by a stop is no copy the run made.
    if (error == kErrorStopped) return kErrorStopped;
    if (error == 0 && group == nullptr && !case_clash)
      NameDone(parts.relative, *source, true, {});
  }
  ++state_.FilesCopied;
  window_.SetCount(FigureBox::kText4, state_.FilesCopied);
  return 0;
}

void FileSync::SetCopyControl(const CopyControl* control) {
  copy_control_ = control;
  const std::function<bool()>* keep_going =
      control == nullptr ? nullptr : &control->keep_going;
  destination_.SetKeepGoing(keep_going);
  folders_.SetKeepGoing(keep_going);
  case_names_.SetKeepGoing(keep_going);
}

bool FileSync::UpToDate(const PathParts& parts, const FileInfo& source,
                        const AheadStatus* ahead, bool case_clash,
                        LinkGroup** group, const char** line) {
  const std::string name(parts.name);
  FileLookup there;
  // Read ahead, "there" or "not there" still holds: only this file's turn
  // changes its entry. Under a clashing name another file's copy may have
  // taken the entry since; any other failure may have passed since.
  const bool read_ahead =
      ahead != nullptr && ahead->destination_looked && !case_clash &&
      (ahead->destination_error == 0 || ahead->destination_error == ENOENT);
  if (destination_.Enter(parts.folder) == 0)
    there = read_ahead ? destination_.LookupRead(name, ahead->destination_error,
                                                 ahead->destination)
                       : destination_.Lookup(name);
  // Only a file or a link can be an earlier copy: a folder or a FIFO of
  // that name is no copy of anything, and the copy is new.
  if (there.info.type != EntryType::kFile &&
      there.info.type != EntryType::kLink)
    there.found = false;
  if (there.found && source.type == EntryType::kLink) {
    if (source_.MoveTo(parts.folder) == 0 &&
        SameLink(platform_, source_.current(), name, source,
                 destination_.current(), there))
      return true;
    *line = kDifferentFile;
  } else if (*group != nullptr && there.found && !(*group)->fresh &&
             there.info.type == EntryType::kFile &&
             there.info.id == (*group)->destination &&
             there.stored_name == name) {
    // A further name, unchanged while it still names the group's copy.
    NameDone(parts.relative, source, false, there.info.id);
    return true;
  } else if (*group != nullptr && (!there.found || MakesLinks())) {
    if (there.found) *line = kDifferentFile;
  } else if (there.found) {
    // Where the destination has no links, every name is a file of its own.
    *group = nullptr;
    // Only differing times need the step, and learning it may take a
    // probe: equal times on an exact file system cost nothing more.
    const int64_t step =
        there.info.mtime == source.mtime
            ? kExactTimes
            : time_steps_.Step(there.info.id.device, destination_.current());
    // The copy found under a clashing name is another file's. A copy that
    // shares its file with other names while its source has none of its
    // own was split off in the source: it gets a file of its own.
    if (!case_clash && SameFile(FileLookup{true, source, name}, there, step) &&
        !(source.links <= 1 && there.info.links > 1) &&
        RefreshStatus(parts, source, there) == 0) {
      NameDone(parts.relative, source, false, there.info.id);
      return true;
    }
    *line = kDifferentFile;
  }
  return false;
}

bool FileSync::StopRequested() const {
  return copy_control_ != nullptr && copy_control_->keep_going &&
         !copy_control_->keep_going();
}

int FileSync::OpenSource(const PathParts& parts, ScopedHandle* in,
                         FileInfo* source) {
  int error = source_root_error_;
  if (error == 0) error = source_.MoveTo(parts.folder);
  if (error == 0)
    error = OpenSourceFile(platform_, source_.current(),
                           std::string(parts.name), in, source);
  return error;
}

bool FileSync::FolderClash(std::string_view folder) {
  if (folder.empty()) return false;
  // A folder made takes case folding from the folder it is made in: the
  // deepest level that exists tells, the root made first when missing.
  std::string_view level = folder;
  int error = destination_.Enter(level);
  while (error == ENOENT && !level.empty()) {
    const size_t name = static_cast<size_t>(lastslash(level));
    level = level.substr(0, name == 0 ? 0 : name - 1);
    error = destination_.Enter(level);
  }
  if (error == ENOENT && destination_.Create(level) == 0) error = 0;
  const std::optional<uint64_t> device = destination_.device();
  // After a stop no probe file is made: nothing more is copied.
  if (error != 0 || !device || StopRequested() ||
      !case_names_.Folds(level, *device, destination_.current()))
    return false;
  return !case_names_.ClaimFolder(
      folder, [this](std::string_view relative, FolderNames* names) {
        ListNames(relative, names);
      });
}

void FileSync::ListNames(std::string_view relative, FolderNames* names) {
  // A folder still to be made takes case folding from the one above.
  if (destination_.Enter(relative) == 0) {
    names->stored = destination_.ListedNames();
    const std::optional<uint64_t> device = destination_.device();
    names->folds =
        device && case_names_.Folds(relative, *device, destination_.current());
  }
  std::vector<DirEntry> entries;
  FileId self;
  if (source_root_error_ != 0 || source_.MoveTo(relative) != 0 ||
      platform_.ListFolder(source_.current(), &entries, &self) != 0)
    return;
  for (DirEntry& entry : entries) {
    if (entry.type == EntryType::kFolder)
      names->folders.push_back(std::move(entry.name));
    else if (entry.type != EntryType::kOther)
      names->source.push_back(std::move(entry.name));
  }
}

FileSync::LinkGroup* FileSync::GroupOf(const FileInfo& source) {
  if (source.type != EntryType::kFile || source.links <= 1) return nullptr;
  const auto found = link_groups_.find(source.id);
  return found == link_groups_.end() ? nullptr : &found->second;
}

void FileSync::NameDone(const std::string_view relative, const FileInfo& source,
                        bool fresh, const FileId& copy) {
  if (source.type != EntryType::kFile || source.links <= 1) return;
  const auto found = link_groups_.find(source.id);
  if (found == link_groups_.end()) {
    link_groups_.emplace(source.id, LinkGroup{std::string(relative), copy,
                                              fresh, source.links - 1});
  } else if (--found->second.names_left == 0) {
    link_groups_.erase(found);
  }
}

int FileSync::LinkName(const PathParts& parts, const LinkGroup& group) {
  const std::string_view relative = group.relative;
  const size_t name = static_cast<size_t>(lastslash(relative));
  const std::string_view folder = relative.substr(0, name == 0 ? 0 : name - 1);
  const std::string_view first = relative.substr(name);
  int error = destination_.EnterForCopy(parts.folder);
  ScopedHandle first_folder(platform_);
  if (error == 0)
    error = WalkFolders(platform_, destination_.Root(), folder, WalkRules{},
                        first_folder.out());
  const Handle here = destination_.current();
  std::string temp_name;
  if (error == 0)
    error = WithNewTempName(&temp_name, [&](const std::string& temp) {
      return platform_.MakeHardLink(first_folder.get(), std::string(first),
                                    here, temp);
    });
  if (error != 0) return error;
  // Under its temporary name first, so that the earlier copy stays should
  // anything fail.
  error = platform_.Rename(here, temp_name, std::string(parts.name));
  if (error != 0) platform_.Remove(here, temp_name);
  return error;
}

bool FileSync::MakesLinks() {
  const std::optional<uint64_t> device = destination_.device();
  if (!device) return false;
  for (const auto& [known, links] : link_devices_)
    if (known == *device) return links;
  // Learnt once per device with two names for one new file.
  const Handle here = destination_.current();
  ScopedHandle probe(platform_);
  std::string name;
  std::string second;
  bool links = false;
  if (CreateTempFile(platform_, here, &name, probe.out()) == 0) {
    probe.reset();
    const int error = WithNewTempName(&second, [&](const std::string& temp) {
      return platform_.MakeHardLink(here, name, here, temp);
    });
    links = error == 0;
    if (links) platform_.Remove(here, second);
    platform_.Remove(here, name);
  }
  link_devices_.emplace_back(*device, links);
  return links;
}

int FileSync::RefreshStatus(const PathParts& parts, const FileInfo& source,
                            const FileLookup& there) {
  // Setting bits or attributes stamps the copy's status-change time, so an
  // earlier one means its source's status changed after the copy was made.
  if (source.type != EntryType::kFile || !(source.ctime > there.info.ctime))
    return 0;
  const uint64_t device = there.info.id.device;
  if (std::find(unstamped_devices_.begin(), unstamped_devices_.end(), device) !=
      unstamped_devices_.end())
    return 0;
  const std::string name(parts.name);
  int error = source_.MoveTo(parts.folder);
  if (error == 0)
    error = RefreshStatusAt(platform_, source_.current(), name, source,
                            destination_.current(), name, there.info);
  if (error != 0) return error;
  // A file system that gives the last-modified time for it keeps no status
  // to bring up to date: its copies are not looked at again.
  FileInfo now;
  if (platform_.Stat(destination_.current(), name, false, &now) == 0 &&
      now.ctime < source.ctime)
    unstamped_devices_.push_back(device);
  return 0;
}

bool FileSync::CaseClash(const PathParts& parts) {
  // Cheap: a folder is entered once for all its files.
  if (destination_.Enter(parts.folder) != 0) return false;
  const std::optional<uint64_t> device = destination_.device();
  if (!device || StopRequested() ||
      !case_names_.Folds(parts.folder, *device, destination_.current()))
    return false;
  std::string replaces;
  const bool kept = case_names_.Claim(
      parts.folder, parts.name,
      [this](std::string_view relative, FolderNames* names) {
        ListNames(relative, names);
      },
      [this, &parts] {
        return destination_.Enter(parts.folder) == 0 ? destination_.current()
                                                     : kNoHandle;
      },
      &replaces);
  if (kept && !replaces.empty()) RespellStored(parts, replaces);
  return !kept;
}

void FileSync::RespellStored(const PathParts& parts,
                             const std::string& stored) {
  // Should it fail, the copy goes on under the drive's spelling, and the
  // next run tries again.
  const std::string name(parts.name);
  if (destination_.Enter(parts.folder) == 0 &&
      RespellStoredName(platform_, destination_.current(), stored, name) == 0)
    destination_.Renamed(stored, name);
}

int FileSync::CopyOneFile(const std::string& source_path,
                          const PathParts& parts, FileInfo* source,
                          const std::string& destination_path, bool case_clash,
                          ScopedHandle& in, int open_error) {
  const std::string name(parts.name);
  int error =
      case_clash ? kErrorCaseClash : destination_.EnterForCopy(parts.folder);
  // The copy replaces the entry of its name itself, a file or a link, never
  // what a link points to; a folder cannot be replaced by a file.
  if (error == 0 && destination_.ListedType(name) == EntryType::kFolder)
    error = EISDIR;
  if (error == 0) error = source_root_error_;
  if (error == 0) error = source_.MoveTo(parts.folder);
  if (error == 0 && source->type == EntryType::kLink) {
    error = CopyLinkAt(platform_, source_.current(), name, *source,
                       destination_.current(), name);
  } else if (error == 0) {
    error = open_error;
    // Where copies have shown that the times asked for are kept, the time
    // the copy stored is the source's, and is not read back.
    const std::optional<uint64_t> device = destination_.device();
    CopyResult result{.stored_mtime = source->mtime};
    result.read_back = !device || !time_steps_.KeepsTimesAsAsked(*device);
    if (error == 0)
      error = CopyOpenFile(platform_, in.get(), *source, destination_.current(),
                           name, destination_.HandsOnAttributes(), &result,
                           copy_control_);
    // Installed, yet without an attribute: that file's failure.
    if (error == 0 && result.attribute_error != 0)
      CopyFailed(source_path, destination_path, result.attribute_error,
                 &result);
    // Setting the times again can fail only after the copy is complete and
    // in place: it stays, and the next incremental run copies it again.
    if (error == 0 && device)
      time_steps_.Copied(*device, destination_.current(), name, *source,
                         result.stored_mtime);
  }
  if (error != 0 && error != kErrorStopped)
    CopyFailed(source_path, destination_path, error);
  return error;
}

void FileSync::FinishFolders(bool stopped) {
  folders_.FinishAll(destination_.Root(), stopped);
}

void FileSync::CopyFailed(const std::string& source_path,
                          const std::string& destination_path, int error,
                          const CopyResult* installed) {
  ++failed_copies_;
  lists_.lp3(kCopyErrorPrefix + destination_path);
  const int log_error = AppendCopyLog(copy_log_path_, destination_path);
  Failure failure{.call = "copy",
                  .path = destination_path,
                  .source_path = source_path,
                  .error = error,
                  .log_error = log_error};
  if (installed != nullptr) {
    failure.attribute = installed->attribute;
    failure.content_kept = true;
  }
  window_.ReportFailure(failure);
}

}  // namespace ferrybox
