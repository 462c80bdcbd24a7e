// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/case_folding.h"

#include <errno.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <algorithm>

#include "engine/folder_walk.h"
#include "engine/path_names.h"
#include "platform/failure.h"
#include "platform/scoped_handle.h"
#include "platform/temp_name.h"
#include "platform/utf8.h"

namespace ferrybox {
namespace {

char AsciiCapital(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }
char AsciiSmall(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

// `text`, all of it UTF-8, decomposed and case folded as folding file
// systems compare names; decomposed again, as a fold may compose.
void FoldUtf8(std::string_view text, std::string* out) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  if (U_SUCCESS(status)) unicode = nfd->normalize(unicode, status);
  unicode.foldCase(U_FOLD_CASE_DEFAULT);
  if (U_SUCCESS(status)) unicode = nfd->normalize(unicode, status);
  if (U_FAILURE(status)) {
    // Without the library's data only ASCII letters meet.
    for (char c : text) *out += AsciiSmall(c);
    return;
  }
  unicode.toUTF8String(*out);
}

// For each folded name of `source`, the spelling that keeps its place: the
// one `stored` holds, else the first in byte order, so that it is the same
// in every run whatever order the source folder lists them in.
std::unordered_map<std::string, std::string> KeptNames(
    std::vector<std::string> source, const std::vector<std::string>& stored) {
  std::unordered_map<std::string, std::string> held;
  for (const std::string& entry : stored) held.emplace(FoldCase(entry), entry);
  std::sort(source.begin(), source.end());
  std::unordered_map<std::string, std::string> kept;
  for (std::string& entry : source) {
    std::string folded = FoldCase(entry);
    const auto there = held.find(folded);
    if (there != held.end() && there->second == entry)
      kept.insert_or_assign(std::move(folded), std::move(entry));
    else
      kept.try_emplace(std::move(folded), std::move(entry));
  }
  return kept;
}

}  // namespace

std::string FoldCase(std::string_view name) {
  std::string folded;
  folded.reserve(name.size());
  // Runs of UTF-8 are folded whole (a decomposed letter is several code
  // points); a byte that is not UTF-8 stays as it is.
  size_t run = 0;
  for (size_t i = 0; i < name.size();) {
    const size_t length = Utf8Length(name.substr(i));
    if (length != 0) {
      i += length;
      continue;
    }
    FoldUtf8(name.substr(run, i - run), &folded);
    folded += name[i];
    run = ++i;
  }
  FoldUtf8(name.substr(run), &folded);
  return folded;
}

int ProbeCaseFolding(Platform& platform, Handle folder, bool* folds,
                     const std::function<bool()>* keep_going) {
  if (StopAsked(keep_going)) return kErrorStopped;
  ScopedHandle file(platform);
  std::string name;
  int error = CreateTempFile(platform, folder, &name, file.out());
  if (error != 0) return error;
  file.reset();
  if (StopAsked(keep_going)) {
    platform.Remove(folder, name);
    return kErrorStopped;
  }
  std::string capitals = name;
  for (char& c : capitals) c = AsciiCapital(c);
  FileInfo info;
  // Inode numbers prove nothing here: some file systems give each spelling
  // of a name its own.
  const int lookup = platform.Stat(folder, capitals, false, &info);
  // A name left behind is a temporary name: the next run that lists this
  // folder removes it.
  platform.Remove(folder, name);
  if (lookup != 0 && lookup != ENOENT) return lookup;
  *folds = lookup == 0;
  return 0;
}

bool FoldsByStoredNames(Platform& platform, Handle folder, bool* folds) {
  std::vector<DirEntry> entries;
  FileId self;
  if (platform.ListFolder(folder, &entries, &self) != 0) return false;
  std::unordered_set<std::string> names;
  for (const DirEntry& entry : entries) names.insert(entry.name);
  for (const DirEntry& entry : entries) {
    std::string other = entry.name;
    for (char& c : other)
      c = c >= 'a' && c <= 'z' ? AsciiCapital(c) : AsciiSmall(c);
    if (other == entry.name || names.count(other) != 0) continue;
    // Found under the other spelling, it is the same entry: nothing else
    // is stored under that name.
    FileInfo info;
    const int error = platform.Stat(folder, other, false, &info);
    if (error != 0 && error != ENOENT) return false;
    *folds = error == 0;
    return true;
  }
  return false;
}

bool CaseNames::Folds(std::string_view relative, uint64_t device,
                      Handle folder) {
  if (folds_known_ && relative == folds_relative_) return folds_;
  folds_known_ = true;
  folds_relative_ = relative;
  bool flagged = false;
  const int flag_error = platform_.FolderFoldsCase(folder, &flagged);
  if (flag_error == 0 && flagged) return folds_ = true;
  // A probe tells the whole device; made in a folder without the flag, it
  // is not misled by one that has it.
  for (const auto& [known, folds] : devices_)
    if (known == device) return folds_ = folds;
  // On a share the probe is several round trips: a stop that came while
  // the flag was asked for, or while the probe file was made, ends the run
  // sooner without it.
  bool folds = false;
  const int error =
      look_first_ && FoldsByStoredNames(platform_, folder, &folds)
          ? 0
          : ProbeCaseFolding(platform_, folder, &folds, keep_going_);
  if (error == kErrorStopped) {
    folds_known_ = false;
    return false;
  }
  if (error != 0) folds = false;
  devices_.emplace_back(device, folds);
  return folds_ = folds;
}

void CaseNames::SettleFolders(std::string_view parent,
                              const FolderNames& listed) {
  std::string key(parent);
  key += kSeparator;
  const size_t base = key.size();
  for (auto& [folded, winner] : KeptNames(listed.folders, listed.stored)) {
    key.resize(base);
    key += folded;
    folders_.try_emplace(key, listed.folds ? winner : std::string());
  }
}

bool CaseNames::ClaimFolder(std::string_view folder, const Names& names) {
  if (folder_known_ && folder == folder_) return !folder_refused_;
  folder_known_ = true;
  folder_ = folder;
  folder_refused_ = false;
  winners_known_ = false;
  winners_.clear();
  files_.clear();
  source_.clear();
  stored_.clear();
  claimed_.clear();
  // Each level from the top, as a name in the level above: "a" in "",
  // "b" in "a", "c" in "a/b".
  for (size_t start = 0; start < folder.size();) {
    const size_t end = std::min(folder.find(kSeparator, start), folder.size());
    const std::string_view parent = folder.substr(0, start ? start - 1 : 0);
    const std::string_view level = folder.substr(start, end - start);
    start = end + 1;
    std::string key(parent);
    key += kSeparator;
    key += FoldCase(level);
    auto it = folders_.find(key);
    if (it == folders_.end()) {
      FolderNames listed;
      names(parent, &listed);
      SettleFolders(parent, listed);
      // Not in the listing (made since, or the listing failed): the first
      // met keeps its name.
      it = folders_
               .try_emplace(key,
                            listed.folds ? std::string(level) : std::string())
               .first;
    }
    if (!it->second.empty() && it->second != level) {
      folder_refused_ = true;
      break;
    }
  }
  return !folder_refused_;
}

bool CaseNames::Claim(std::string_view folder, std::string_view name,
                      const Names& names, const FolderHandle& open,
                      std::string* replaces) {
  replaces->clear();
  if (!ClaimFolder(folder, names)) return false;
  if (!winners_known_) {
    winners_known_ = true;
    FolderNames listed;
    names(folder, &listed);
    winners_ = KeptNames(listed.source, listed.stored);
    // The folders listed with the files need no listing of their own.
    SettleFolders(folder, listed);
    source_.insert(listed.source.begin(), listed.source.end());
    source_.insert(listed.folders.begin(), listed.folders.end());
    stored_.insert(listed.stored.begin(), listed.stored.end());
  }
  const std::string folded = FoldCase(name);
  const std::string own(name);
  const auto it = winners_.find(folded);
  // Not in the listing (come since, or the listing failed): the first
  // claimed keeps its name.
  const std::string& kept = it != winners_.end()
                                ? it->second
                                : files_.try_emplace(folded, own).first->second;
  std::string stored;
  int error = 0;
  if (stored_.count(own)) {
    stored = own;
  } else {
    const Handle here = open();
    error =
        here == kNoHandle ? ENOENT : platform_.StoredName(here, own, &stored);
  }
  if (error == 0 && stored.empty()) {
    // The drive found the name but could not say under which (some give
    // each spelling its own inode number): the one stored name of its
    // group, if one alone.
    for (const std::string& entry : stored_) {
      if (FoldCase(entry) != folded) continue;
      if (!stored.empty()) {
        stored.clear();
        break;
      }
      stored = entry;
    }
  }
  if (kept != own) {
    if (error != ENOENT && (error != 0 || stored != own)) return false;
    // Only what the drive holds can it compare with.
    bool one = false;
    if (error == ENOENT && !stored_.count(kept) && !claimed_.count(kept)) {
      const Handle here = open();
      if (here == kNoHandle ||
          DriveTakesAsOne(platform_, here, kept, own, &one) != 0)
        return false;
    }
    if (one) return false;
  } else if (error == 0 && stored != own) {
    // Stored under other bytes: a name this run wrote or the source holds
    // keeps its place; any other is an earlier spelling of this very file.
    if (stored.empty() || source_.count(stored) || claimed_.count(stored))
      return false;
    *replaces = stored;
  }
  claimed_.insert(own);
  return true;
}

int DriveTakesAsOne(Platform& platform, Handle folder, const std::string& kept,
                    const std::string& name, bool* one) {
  // Made under a temporary name, so that a run killed before the rename
  // leaves nothing the next run keeps.
  ScopedHandle probe(platform);
  std::string temporary;
  int error = CreateTempFile(platform, folder, &temporary, probe.out());
  if (error != 0) return error;
  probe.reset();
  std::string stored;
  // Renamed only onto a name the drive does not hold: it replaces nothing.
  error = platform.StoredName(folder, kept, &stored);
  if (error == 0) error = EEXIST;
  if (error == ENOENT) error = platform.Rename(folder, temporary, kept);
  if (error != 0) {
    platform.Remove(folder, temporary);
    return error;
  }
  error = platform.StoredName(folder, name, &stored);
  *one = error == 0;
  // Should this fail, the empty file is older than its source and shorter:
  // the copy of `kept` replaces it.
  platform.Remove(folder, kept);
  return error == ENOENT ? 0 : error;
}

int RespellStoredName(Platform& platform, Handle folder,
                      const std::string& stored, const std::string& name) {
  std::string temporary;
  int error = WithNewTempName(&temporary, [&](const std::string& candidate) {
    // A name that is taken would be replaced: asked first.
    FileInfo info;
    if (platform.Stat(folder, candidate, false, &info) != ENOENT) return EEXIST;
    return platform.Rename(folder, stored, candidate);
  });
  if (error != 0) return error;
  error = platform.Rename(folder, temporary, name);
  if (error != 0) (void)platform.Rename(folder, temporary, stored);
  return error;
}

}  // namespace ferrybox
