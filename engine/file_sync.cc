// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/file_sync.h"

#include <errno.h>

#include <algorithm>
#include <optional>

#include "engine/attributes.h"
#include "engine/copy_log.h"
#include "engine/file_copy.h"
#include "engine/folder_walk.h"
#include "engine/keep_owner.h"
#include "engine/link_copy.h"
#include "engine/path_names.h"
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

bool ByName(const Attribute& a, const Attribute& b) { return a.name < b.name; }

}  // namespace

bool SameFile(const FileLookup& source, const FileLookup& destination,
              int64_t time_step_ns) {
  if (!source.found || !destination.found) return false;
  if (destination.info.type != EntryType::kFile) return false;
  const bool same_length = source.info.size == destination.info.size;
  // A drive that keeps times only in some years (FAT, exFAT) holds another
  // time for a file dated outside them, whatever the run asks.
  const bool same_time =
      SameTimeAtStep(source.info.mtime, destination.info.mtime, time_step_ns) ||
      (time_step_ns >= kCoarseTimeStep &&
       KeptOutsideItsYears(source.info.mtime, destination.info.mtime));
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
  const FolderAndName cut = SplitRelative(parts.relative);
  parts.folder = cut.folder;
  parts.name = cut.name;
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
  // A dry run leaves every folder's bits and times as they are.
  if (!*refused && !dry_run_)
    folders_.Reach(parts.folder, source_, destination_.Root());
  if (!Covers(state_.LastCheckedFolder, destination_folder_)) {
    state_.LastCheckedFolder = destination_folder_;
    Say(kCheckingFolder + destination_folder_);
    if (destination_.Check(parts.folder) == FolderState::kMissing &&
        !*refused) {
      Say(kCreatingFolder + destination_folder_);
      // A folder that cannot be made shows as failed copies of its files;
      // a dry run only notes that it would be made.
      (void)destination_.Create(parts.folder);
    }
  }
  if (destination_.in_use()) return false;
  if (!*refused && !dry_run_) folders_.Made(destination_.Root());
  return !StopRequested();
}

FileDecision FileSync::Decide(const std::string& source_path, int status_error,
                              const FileInfo& source, const AheadStatus* ahead,
                              size_t position) {
  FileDecision decision;
  position_ = position;
  decision.source_path = source_path;
  decision.source = source;
  deciding_ = &decision;
  if (IsFolderPath(source_path)) {
    DecideFolder(decision);
  } else if (status_error != 0) {
    // Gone or changed since the scan: nothing to copy from.
    decision.outcome = FileOutcome::kUnreadable;
    decision.error = status_error;
  } else {
    DecideFile(decision, ahead);
  }
  deciding_ = nullptr;
  return decision;
}

void FileSync::DecideFolder(FileDecision& decision) {
  decision.outcome = FileOutcome::kFolder;
  const PathParts parts = Split(decision.source_path);
  bool refused = false;
  if (!ReachFolder(parts, &refused)) {
    if (destination_.in_use()) decision.outcome = FileOutcome::kDestinationLost;
    return;
  }
  // Nothing but the folder itself: a folder that cannot be made is a failed
  // copy of it.
  const int error = refused ? kErrorCaseClash : EnterForCopy(parts.folder);
  if (error != 0)
    CopyFailed(WithoutTrailingSlashes(decision.source_path),
               WithoutTrailingSlashes(DestinationPath(decision.source_path)),
               error);
}

void FileSync::DecideFile(FileDecision& decision, const AheadStatus* ahead) {
  const PathParts parts = Split(decision.source_path);
  const FileInfo& source = decision.source;
  incremental_ = window_.CheckValue(CheckBox::kCheck3) == 1;
  check_attributes_ = window_.CheckAttributes();
  // A full backup copies every file: opened first, one gone since its
  // status was read ahead shows exactly as one whose status is read now.
  ScopedHandle in(platform_);
  int open_error = 0;
  if (!incremental_ && source.type == EntryType::kFile)
    open_error = OpenSource(parts, &in);
  if (Gone(open_error)) {
    decision.outcome = FileOutcome::kUnreadable;
    decision.error = open_error;
    return;
  }
  // A file not begun is not begun after a stop; nothing more is asked of
  // the destination for it: on a share every question is a round trip.
  bool folder_clash = false;
  if (StopRequested() || !ReachFolder(parts, &folder_clash)) {
    decision.outcome = destination_.in_use() ? FileOutcome::kDestinationLost
                                             : FileOutcome::kLeftByStop;
    return;
  }
  const bool case_clash = folder_clash || CaseClash(parts);
  const char* line = kNewFile;
  LinkGroup* group = case_clash ? nullptr : GroupOf(source);
  if (incremental_ && UpToDate(parts, source, ahead, case_clash, &group, &line))
    return;  // kUpToDate
  if (StopRequested()) {
    decision.outcome = FileOutcome::kLeftByStop;
    return;
  }
  if (incremental_ && source.type == EntryType::kFile)
    open_error = OpenSource(parts, &in);
  if (Gone(open_error)) {
    decision.outcome = FileOutcome::kUnreadable;
    decision.error = open_error;
    return;
  }
  decision.copy_line = line;
  decision.destination_path = DestinationPath(decision.source_path);
  MakeJob(decision, parts, case_clash, group, std::move(in), open_error);
}

void FileSync::MakeJob(FileDecision& decision, const PathParts& parts,
                       bool case_clash, const LinkGroup* group, ScopedHandle in,
                       int open_error) {
  CopyJob job(std::move(in));
  job.name = parts.name;
  job.decided = decision.source;
  job.kind = decision.source.type == EntryType::kLink ? CopyKind::kLink
             : group != nullptr                       ? CopyKind::kHardLink
                                                      : CopyKind::kFile;
  int error = case_clash ? kErrorCaseClash : EnterForCopy(parts.folder);
  // The copy replaces the entry of its name itself, a file or a link, never
  // what a link points to; a folder cannot be replaced by a file.
  if (error == 0 && destination_.ListedType(job.name) == EntryType::kFolder)
    error = EISDIR;
  if (error == 0 && !dry_run_)
    error =
        HoldFolder(destination_.current(), parts.folder, &destination_held_);
  if (error == 0) error = source_root_error_;
  if (error == 0 && job.kind == CopyKind::kLink) {
    error = source_.MoveTo(parts.folder);
    if (error == 0 && !dry_run_)
      error = HoldFolder(source_.current(), parts.folder, &source_held_);
    job.source_folder = source_held_.folder;
  }
  // In a dry run the group's copy made in this run is not there to reach;
  // the run would have made it.
  if (error == 0 && job.kind == CopyKind::kHardLink &&
      !(dry_run_ && group->fresh)) {
    // The group's copy, reached from the root: the run has moved on since.
    const FolderAndName cut = SplitRelative(group->relative);
    auto folder = std::make_shared<ScopedHandle>(platform_);
    if (WalkFolders(platform_, destination_.Root(), cut.folder, WalkRules{},
                    folder->out()) == 0) {
      job.group_folder = std::move(folder);
      job.group_name = cut.name;
      if (!group->fresh) job.group_copy = group->destination;
    } else {
      job.kind = CopyKind::kFile;
    }
  }
  if (error == 0 && job.kind == CopyKind::kFile) error = open_error;
  if (error != 0) {
    decision.outcome = FileOutcome::kFailed;
    decision.error = error;
    return;
  }
  decision.relative = parts.relative;
  decision.starts_group = group == nullptr && !case_clash;
  decision.kind = job.kind;
  decision.outcome = FileOutcome::kCopy;
  decision.replaces = destination_.Holds(job.name);
  // A dry run hands out no job: the copy is taken as made.
  if (dry_run_) return;
  job.open_error = open_error;
  job.destination_folder = destination_held_.folder;
  job.folder_hands_on = destination_.HandsOnAttributes();
  decision.device = destination_.device();
  job.read_back =
      !decision.device || !time_steps_.KeepsTimesAsAsked(*decision.device);
  if (versions_ != nullptr) {
    // Made here, on the run's thread, before the first copy that may keep
    // a version; a folder that cannot be made fails only the copies that
    // would replace something.
    (void)versions_->Ready(destination_.Root());
    job.versions = versions_;
    job.version_folder = parts.folder;
  }
  decision.copy.emplace(CopyTicket{std::move(job), CopyOutcome{}, false});
}

int FileSync::EnterForCopy(std::string_view relative) {
  const int error = destination_.EnterForCopy(relative);
  return error == ENOENT && destination_.WouldMake(relative) ? 0 : error;
}

int FileSync::HoldFolder(Handle cursor_handle, std::string_view relative,
                         HeldFolder* held) {
  if (held->folder && held->origin == cursor_handle &&
      held->relative == relative)
    return 0;
  auto folder = std::make_shared<ScopedHandle>(platform_);
  const int error = platform_.Duplicate(cursor_handle, folder->out());
  if (error != 0) return error;
  *held = HeldFolder{cursor_handle, std::string(relative), std::move(folder)};
  return 0;
}

void FileSync::Show(const FileDecision& decision) {
  for (const ShownLine& line : decision.lines) {
    if (line.failed)
      CopyFailed(line.source_path, line.text, line.error);
    else
      lists_.lp2(line.text);
  }
  if (decision.copy_line != nullptr)
    lists_.lp2(decision.copy_line + decision.destination_path);
}

int FileSync::TakeResult(FileDecision& decision) {
  int error = decision.error;
  // A dry run's copy, taken as made: a new file starts its group, a further
  // name is linked to the group's copy.
  if (!decision.copy && decision.outcome == FileOutcome::kCopy &&
      (decision.starts_group || decision.kind == CopyKind::kHardLink))
    NameDone(decision.relative, decision.source, decision.starts_group, {});
  if (decision.copy) {
    const CopyOutcome& copied = decision.copy->outcome;
    const CopyJob& job = decision.copy->job;
    error = copied.error;
    // A copy broken off by a stop is no copy the run made.
    if (error == kErrorStopped) return error;
    if (error == 0 && copied.linked) {
      NameDone(decision.relative, decision.source, false, {});
    } else if (error == 0 && job.kind != CopyKind::kLink) {
      // Setting the times again can fail only after the copy is complete
      // and in place: it stays, and the next incremental run copies it.
      if (decision.device)
        (void)time_steps_.Copied(
            *decision.device, job.destination_folder->get(), job.name,
            copied.source, copied.stored.stored_mtime, copied.copied_at);
      // Installed, yet without an attribute: that file's failure.
      if (copied.stored.attribute_error != 0)
        CopyFailed(decision.source_path, decision.destination_path,
                   copied.stored.attribute_error, &copied.stored);
      // A file put in the source's place since its decision starts no
      // group: its further names are another file's.
      if (decision.starts_group && copied.same_file)
        NameDone(decision.relative, decision.source, true, {});
    }
  }
  if (decision.outcome != FileOutcome::kCopy &&
      decision.outcome != FileOutcome::kFailed) {
    if (error != 0)
      CopyFailed(decision.source_path, DestinationPath(decision.source_path),
                 error);
    return error;
  }
  if (error != 0)
    CopyFailed(decision.source_path, decision.destination_path, error);
  ++state_.FilesCopied;
  window_.SetCount(FigureBox::kText4, state_.FilesCopied);
  return error;
}

bool FileSync::JudgedByTheDrive(std::string_view source_path) const {
  return case_names_.KnownToFold(Split(source_path).folder);
}

bool FileSync::LeavesFolders(std::string_view source_path) const {
  return folders_.Leaves(Split(source_path).folder);
}

void FileSync::SetDryRun() {
  dry_run_ = true;
  destination_.SetDryRun();
  case_names_.SetLookFirst();
}

void FileSync::SetKeepGoing(const std::function<bool()>* keep_going) {
  keep_going_ = keep_going;
  destination_.SetKeepGoing(keep_going);
  folders_.SetKeepGoing(keep_going);
  case_names_.SetKeepGoing(keep_going);
}

void FileSync::Say(std::string line) {
  if (deciding_ != nullptr)
    deciding_->lines.push_back(ShownLine{std::move(line), false, {}, 0});
  else
    lists_.lp2(line);
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
                 destination_.current(), there) &&
        RefreshLink(name, source, there.info) == 0)
      return true;
    *line = kDifferentFile;
  } else if (*group != nullptr && there.found && !(*group)->fresh &&
             there.info.type == EntryType::kFile &&
             there.info.id == (*group)->destination &&
             there.stored_name == name) {
    // A further name, unchanged while it still names the group's copy.
    NameDone(parts.relative, source, false, there.info.id);
    return true;
  } else if (*group != nullptr && (!there.found || MakesLinks(there.info))) {
    if (there.found) *line = kDifferentFile;
  } else if (!there.found) {
    // A new name met before every name of its file in the backup.
    if (!case_clash && InLinkGroup(source) &&
        destination_.Enter(parts.folder) == 0 && MakesLinks(there.info))
      *group = LaterCopy(parts, source);
  } else {
    // Where the destination has no links, every name is a file of its own.
    *group = nullptr;
    // Only differing times need the step, and learning it may take a
    // probe: equal times on an exact file system cost nothing more. A dry
    // run, which writes as little as it may, makes no probe either where
    // the answer is the same at every step: the lengths differ, or the
    // times by the coarsest step or more.
    const bool step_matters =
        there.info.mtime != source.mtime &&
        (!dry_run_ ||
         (there.info.size == source.size &&
          SameTimeAtStep(there.info.mtime, source.mtime, kCoarsestTimeStep)));
    const int64_t step = step_matters ? time_steps_.Step(there.info.id.device,
                                                         destination_.current())
                                      : kExactTimes;
    // The copy found under a clashing name is another file's.
    if (!case_clash && SameFile(FileLookup{true, source, name}, there, step) &&
        RefreshStatus(parts, source, there) == 0) {
      NameDone(parts.relative, source, false, there.info.id);
      return true;
    }
    *line = kDifferentFile;
  }
  return false;
}

bool FileSync::StopRequested() const { return StopAsked(keep_going_); }

int FileSync::OpenSource(const PathParts& parts, ScopedHandle* in) {
  int error = source_root_error_;
  if (error == 0) error = source_.MoveTo(parts.folder);
  // Never through a link; what was put in the file's place since is told
  // by the copy, from the file it opened.
  if (error == 0)
    error = platform_.Open(source_.current(), std::string(parts.name),
                           OpenMode::kReadFile, in->out());
  return error == ELOOP ? kErrorSourceChanged : error;
}

bool FileSync::FolderClash(std::string_view folder) {
  if (folder.empty()) return false;
  // A folder made takes case folding from the folder it is made in: the
  // deepest level that exists tells, the root made first when missing.
  std::string_view level = folder;
  int error = destination_.Enter(level);
  while (error == ENOENT && !level.empty()) {
    level = SplitRelative(level).folder;
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

FileSync::LinkGroup* FileSync::LaterCopy(const PathParts& parts,
                                         const FileInfo& source) {
  if (collected_ == nullptr || while_waiting_ == nullptr ||
      source_root_error_ != 0)
    return nullptr;
  // Paid only by a run that meets such a name, once.
  if (!later_names_) {
    later_names_.emplace(platform_, *collected_, source_prefix_,
                         source_.root());
    if (!later_names_->Read(position_, *while_waiting_)) return nullptr;
  }
  for (const size_t later : later_names_->After(source.id, position_)) {
    if (StopRequested()) return nullptr;
    const PathParts other = Split((*collected_)[later]);
    if (other.relative == parts.relative) continue;
    const std::string name(other.name);
    // Still a name of this file, and its copy up to date by the comparison
    // its own turn makes, under exactly its name.
    FileInfo now;
    if (source_.MoveTo(other.folder) != 0 ||
        platform_.Stat(source_.current(), name, false, &now) != 0 ||
        now.type != EntryType::kFile || now.id != source.id ||
        destination_.Enter(other.folder) != 0)
      continue;
    const FileLookup there = destination_.Lookup(name);
    if (!there.found || there.info.type != EntryType::kFile ||
        there.stored_name != name)
      continue;
    const int64_t step =
        there.info.mtime == now.mtime
            ? kExactTimes
            : time_steps_.Step(there.info.id.device, destination_.current());
    if (!SameFile(FileLookup{true, now, name}, there, step) ||
        RefreshStatus(other, now, there) != 0)
      continue;
    // Every name is counted as it is linked or found, this one too.
    return &link_groups_
                .insert_or_assign(source.id,
                                  LinkGroup{std::string(other.relative),
                                            there.info.id, false, source.links})
                .first->second;
  }
  return nullptr;
}

bool FileSync::MakesLinks(const FileInfo& found) {
  const std::optional<uint64_t> device = destination_.device();
  if (!device) return false;
  for (const auto& [known, links] : link_devices_)
    if (known == *device) return links;
  // A dry run takes a file with several names as the answer.
  if (dry_run_ && found.links > 1) {
    link_devices_.emplace_back(*device, true);
    return true;
  }
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
  if (source.type != EntryType::kFile) return 0;
  const uint64_t device = there.info.id.device;
  const auto listed = [device](const std::vector<uint64_t>& devices) {
    return std::find(devices.begin(), devices.end(), device) != devices.end();
  };
  // A file system that gives the last-modified time for the status-change
  // time (FAT, exFAT) keeps no owners, bits or attributes to bring over.
  if (listed(unstamped_devices_)) return 0;
  constexpr uint32_t kBits = 07777;
  constexpr uint32_t kSetUserId = 04000;
  constexpr uint32_t kSetGroupId = 02000;
  const bool owners =
      (there.info.owner != source.owner || there.info.group != source.group) &&
      !listed(ownerless_devices_) && platform_.MayChangeOwners();
  // The bits a copy gets: a set-id bit only with its source's owner or group.
  uint32_t wanted = source.mode & kBits;
  if (!owners && there.info.owner != source.owner) wanted &= ~kSetUserId;
  if (!owners && there.info.group != source.group) wanted &= ~kSetGroupId;
  const bool bits =
      (there.info.mode & kBits) != wanted && !listed(bitless_devices_);
  // Setting bits or attributes stamps the copy's status-change time, so an
  // earlier one means its source's status changed after the copy was made.
  const bool attributes = check_attributes_ || source.ctime > there.info.ctime;
  if (!owners && !bits && !attributes) return 0;
  const std::string name(parts.name);
  int error = source_.MoveTo(parts.folder);
  if (error != 0) return error;
  // A copy sharing its file with names its source does not share with (a
  // snapshot of the backup, a deduplicating tool, a group split in the
  // source) keeps sharing unless a change would land on that shared file:
  // then the name gets a file of its own, a full copy.
  if (there.info.links > source.links) {
    if (owners || bits) return kErrorSourceChanged;
    Attributes ours;
    Attributes theirs;
    error = ReadAttributes(platform_, source_.current(), name, &ours);
    if (error == 0)
      error = ReadAttributes(platform_, destination_.current(), name, &theirs);
    if (error != 0) return error;
    std::sort(ours.begin(), ours.end(), ByName);
    std::sort(theirs.begin(), theirs.end(), ByName);
    return ours == theirs ? 0 : kErrorSourceChanged;
  }
  // A dry run takes the change as made.
  if (dry_run_) return 0;
  error = RefreshStatusAt(platform_, source_.current(), name, source,
                          destination_.current(), name, there.info);
  if (error != 0) return error;
  FileInfo now;
  if (platform_.Stat(destination_.current(), name, false, &now) != 0) return 0;
  // What the device would not keep is not asked of it again in this run: a
  // status-change time older than the source's, bits or owners that stay
  // as they were (a drive that reports the same ones for every file).
  if (now.ctime < source.ctime) unstamped_devices_.push_back(device);
  if (bits && (now.mode & kBits) != wanted) bitless_devices_.push_back(device);
  if (owners && (now.owner != source.owner || now.group != source.group))
    ownerless_devices_.push_back(device);
  return 0;
}

int FileSync::RefreshLink(const std::string& name, const FileInfo& source,
                          const FileInfo& there) {
  // The link itself, never what it points to. A dry run takes the change
  // as made.
  if (dry_run_) return 0;
  const uint64_t device = there.id.device;
  int error = 0;
  if ((there.owner != source.owner || there.group != source.group) &&
      platform_.MayChangeOwners() &&
      std::find(ownerless_devices_.begin(), ownerless_devices_.end(), device) ==
          ownerless_devices_.end()) {
    error = platform_.SetOwner(destination_.current(), name, source.owner,
                               source.group);
    if (AttributeRefused(error)) {
      ownerless_devices_.push_back(device);
      error = 0;
    }
  }
  if (error == 0 && there.mtime != source.mtime)
    error = platform_.SetTimes(destination_.current(), name, source.atime,
                               source.mtime, nullptr);
  return error;
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
  // A dry run takes the rename as made.
  if (destination_.Enter(parts.folder) == 0 &&
      (dry_run_ ||
       RespellStoredName(platform_, destination_.current(), stored, name) == 0))
    destination_.Renamed(stored, name);
}

void FileSync::FinishFolders(bool stopped) {
  folders_.FinishAll(destination_.Root(), stopped);
}

void FileSync::CopyFailed(const std::string& source_path,
                          const std::string& destination_path, int error,
                          const CopyResult* installed) {
  if (deciding_ != nullptr) {
    deciding_->lines.push_back(ShownLine{.text = destination_path,
                                         .failed = true,
                                         .source_path = source_path,
                                         .error = error});
    return;
  }
  ++failed_copies_;
  lists_.lp3(kCopyErrorPrefix + destination_path);
  // A dry run leaves the copy log as it was.
  const int log_error =
      dry_run_ ? 0 : AppendCopyLog(platform_, copy_log_path_, destination_path);
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
