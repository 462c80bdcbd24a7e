// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/case_folding.h"

#include <errno.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>

#include "engine/folder_scan.h"
#include "engine/folder_walk.h"
#include "platform/failure.h"
#include "platform/scoped_handle.h"
#include "platform/temp_name.h"

namespace ferrybox {
namespace {

char AsciiCapital(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

// The code point of the UTF-8 sequence at the start of `text` and its
// length in bytes; a length of 0 where it is not UTF-8.
char32_t Decode(std::string_view text, size_t* length) {
  const auto byte = [&](size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const unsigned char lead = byte(0);
  size_t size = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
  *length = 0;
  if (size == 0 || lead >= 0xf8 || text.size() < size) return 0;
  char32_t code = lead & (0x7f >> size);
  for (size_t i = 1; i < size; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3f);
  }
  // Overlong forms and surrogates are not UTF-8.
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[size] || code > 0x10ffff ||
      (code >= 0xd800 && code <= 0xdfff))
    return 0;
  *length = size;
  return code;
}

void Encode(char32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xc0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3f));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xe0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    *out += static_cast<char>(0x80 | (code & 0x3f));
  } else {
    *out += static_cast<char>(0xf0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    *out += static_cast<char>(0x80 | (code & 0x3f));
  }
}

// Unicode's case table, whatever locale the program runs in; null where
// the system has none, and then only ASCII letters are folded.
locale_t UnicodeCase() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  return locale;
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
  const locale_t unicode = UnicodeCase();
  for (size_t i = 0; i < name.size();) {
    size_t length = 0;
    const char32_t code =
        static_cast<unsigned char>(name[i]) >= 0x80 && unicode != nullptr
            ? Decode(name.substr(i), &length)
            : 0;
    if (length == 0) {
      folded += AsciiCapital(name[i]);
      ++i;
      continue;
    }
    Encode(
        static_cast<char32_t>(towupper_l(static_cast<wint_t>(code), unicode)),
        &folded);
    i += length;
  }
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
  const int error = ProbeCaseFolding(platform_, folder, &folds, keep_going_);
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
                      const Names& names) {
  if (!ClaimFolder(folder, names)) return false;
  if (!winners_known_) {
    winners_known_ = true;
    FolderNames listed;
    names(folder, &listed);
    winners_ = KeptNames(listed.source, listed.stored);
    // The folders listed with the files need no listing of their own.
    SettleFolders(folder, listed);
  }
  const std::string folded = FoldCase(name);
  const auto it = winners_.find(folded);
  if (it != winners_.end()) return it->second == name;
  // Not in the listing (come since, or the listing failed): the first
  // claimed keeps its name.
  const auto [first, added] = files_.try_emplace(folded, std::string(name));
  return added || first->second == name;
}

}  // namespace ferrybox
