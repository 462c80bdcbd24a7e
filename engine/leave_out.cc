// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/leave_out.h"

#include <cstring>
#include <set>
#include <utility>

#include "engine/path_names.h"
#include "platform/name_match.h"
#include "platform/scoped_handle.h"
#include "platform/utf8.h"

namespace ferrybox {
namespace {

// A name that is not UTF-8, cut at the bytes that are not: `pieces` has one
// more entry than `stray`, and the name is pieces[0] stray[0] pieces[1] ...
struct StrayBytes {
  std::vector<std::string> pieces{std::string()};
  std::string stray;
};

StrayBytes CutAtStrayBytes(const std::string& name) {
  StrayBytes cut;
  for (size_t at = 0; at < name.size();) {
    const size_t length = Utf8Length(std::string_view(name).substr(at));
    if (length == 0) {
      cut.stray.push_back(name[at]);
      cut.pieces.emplace_back();
      ++at;
    } else {
      cut.pieces.back().append(name, at, length);
      at += length;
    }
  }
  return cut;
}

// fnmatch in a UTF-8 locale takes a byte that is no character as it can;
// the stray bytes are kept out of its reach instead. Each must be met by
// the same byte in the pattern or fall inside a `*`, and the pieces
// between them are matched by fnmatch against the pattern's pieces
// between those places.
class StrayByteMatch {
 public:
  StrayByteMatch(const std::string& pattern, StrayBytes name)
      : pattern_(pattern), name_(std::move(name)) {}

  bool From(size_t piece, size_t at) {
    if (piece + 1 == name_.pieces.size())
      return ShellNameMatches(pattern_.substr(at), name_.pieces[piece]);
    if (!failed_.insert({piece, at}).second) return false;
    const char stray = name_.stray[piece];
    for (size_t c = at; c < pattern_.size(); ++c) {
      const char here = pattern_[c];
      const bool quoted = here == '\\' && c + 1 < pattern_.size();
      if (here == '*') {
        // The star takes the byte: it ends this piece and begins the next.
        if (Head(piece, at, c + 1) && From(piece + 1, c)) return true;
      } else if (here == stray || (quoted && pattern_[c + 1] == stray)) {
        if (Head(piece, at, c) && From(piece + 1, c + (quoted ? 2 : 1)))
          return true;
      }
      if (quoted) ++c;
    }
    return false;
  }

 private:
  bool Head(size_t piece, size_t from, size_t to) {
    return ShellNameMatches(pattern_.substr(from, to - from),
                            name_.pieces[piece]);
  }

  const std::string& pattern_;
  const StrayBytes name_;
  std::set<std::pair<size_t, size_t>> failed_;
};

bool IsStar(const std::string& part) { return part == "**"; }

// The names `names[n...]` against the pattern parts `parts[p...]`.
bool PartsMatch(const std::vector<std::string>& parts, size_t p,
                const std::vector<std::string>& names, size_t n) {
  if (p == parts.size()) return n == names.size();
  if (IsStar(parts[p])) {
    // At the end a "**" stands for what lies inside: one name at least.
    const size_t least = p + 1 == parts.size() ? 1 : 0;
    for (size_t k = n + least; k <= names.size(); ++k)
      if (PartsMatch(parts, p + 1, names, k)) return true;
    return false;
  }
  return n < names.size() && LeaveOutNameMatches(parts[p], names[n]) &&
         PartsMatch(parts, p + 1, names, n + 1);
}

// Drops the spaces at the end of `line` that no backslash quotes.
void DropTrailingSpaces(std::string& line) {
  while (!line.empty() && line.back() == ' ') {
    size_t slashes = 0;
    for (size_t i = line.size() - 1; i > 0 && line[i - 1] == '\\'; --i)
      ++slashes;
    if (slashes % 2 == 1) break;
    line.pop_back();
  }
}

}  // namespace

bool LeaveOutNameMatches(const std::string& pattern, const std::string& name) {
  StrayBytes cut = CutAtStrayBytes(name);
  if (cut.stray.empty()) return ShellNameMatches(pattern, name);
  return StrayByteMatch(pattern, std::move(cut)).From(0, 0);
}

LeaveOutList::LeaveOutList(const LeaveOutOptions& options)
    : cache_folders_(options.cache_folders) {
  for (std::string line : options.patterns) {
    DropTrailingSpaces(line);
    if (line.empty() || line[0] == '#') continue;
    Pattern pattern;
    while (!line.empty() && line.back() == '/') {
      pattern.folders_only = true;
      line.pop_back();
    }
    pattern.anchored = line.find('/') != std::string::npos;
    size_t start = 0;
    while (start <= line.size()) {
      size_t end = line.find('/', start);
      if (end == std::string::npos) end = line.size();
      if (end > start) pattern.parts.push_back(line.substr(start, end - start));
      start = end + 1;
    }
    if (pattern.parts.empty()) continue;
    anchored_ = anchored_ || pattern.anchored;
    patterns_.push_back(std::move(pattern));
  }
}

LeaveOutVerdict LeaveOutList::Check(std::string_view relative) const {
  if (patterns_.empty()) return LeaveOutVerdict::kKeep;
  const std::string name(SplitRelative(relative).name);
  std::vector<std::string> names;
  if (anchored_) {
    size_t start = 0;
    while (start <= relative.size()) {
      size_t end = relative.find('/', start);
      if (end == std::string_view::npos) end = relative.size();
      names.emplace_back(relative.substr(start, end - start));
      start = end + 1;
    }
  }
  LeaveOutVerdict verdict = LeaveOutVerdict::kKeep;
  for (const Pattern& pattern : patterns_) {
    const bool matches = pattern.anchored
                             ? PartsMatch(pattern.parts, 0, names, 0)
                             : LeaveOutNameMatches(pattern.parts[0], name);
    if (!matches) continue;
    if (!pattern.folders_only) return LeaveOutVerdict::kLeaveOut;
    verdict = LeaveOutVerdict::kLeaveOutIfFolder;
  }
  return verdict;
}

bool IsCacheFolder(Platform& platform, Handle folder) {
  ScopedHandle tag(platform);
  if (platform.Open(folder, kCacheTagName, OpenMode::kReadFile, tag.out()) != 0)
    return false;
  char head[kCacheTagSignature.size()];
  size_t have = 0;
  while (have < sizeof(head)) {
    size_t got = 0;
    if (platform.Read(tag.get(), head + have, sizeof(head) - have, &got) != 0 ||
        got == 0)
      return false;
    have += got;
  }
  return std::string_view(head, sizeof(head)) == kCacheTagSignature;
}

}  // namespace ferrybox
