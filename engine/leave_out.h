// SPDX-License-Identifier: GPL-3.0-or-later
// What a backup leaves out: the user's patterns and folders tagged as caches.
#ifndef FERRYBOX_ENGINE_LEAVE_OUT_H_
#define FERRYBOX_ENGINE_LEAVE_OUT_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace ferrybox {

/// The name of the file that marks a folder as a cache.
inline constexpr char kCacheTagName[] = "CACHEDIR.TAG";
/// What a cache tag begins with, exactly (43 bytes).
inline constexpr std::string_view kCacheTagSignature =
    "Signature: 8a477f597d28d172789f06886806bc55";

/// What a run is told to leave out, as the user wrote it.
struct LeaveOutOptions {
  /// One pattern a line; blank lines and lines beginning with "#" say
  /// nothing.
  std::vector<std::string> patterns;
  /// Leave out every folder that holds a cache tag.
  bool cache_folders = false;
  friend bool operator==(const LeaveOutOptions&,
                         const LeaveOutOptions&) = default;
};

/// Whether an entry is left out, told before its type is known.
enum class LeaveOutVerdict { kKeep, kLeaveOut, kLeaveOutIfFolder };

/// The patterns of a LeaveOutOptions, ready to match. In a pattern `*`, `?`
/// and `[...]` match within one name (fnmatch under a UTF-8 locale; a byte
/// of a name that is not UTF-8 matches only itself and `*`); a `**` that
/// stands alone between separators matches any number of folders (at
/// least one at the end of a pattern); a pattern with a `/` at its start or
/// in its middle is matched against the whole path below the source root,
/// any other against the last name at any depth; a trailing `/` matches
/// folders only. Trailing spaces are dropped unless quoted with a
/// backslash. There is no negation: `!` is an ordinary character.
class LeaveOutList {
 public:
  LeaveOutList() = default;
  explicit LeaveOutList(const LeaveOutOptions& options);

  /// True when nothing at all is left out.
  bool empty() const { return patterns_.empty() && !cache_folders_; }
  bool cache_folders() const { return cache_folders_; }

  /// Whether the entry at `relative` (its path below the source root,
  /// names joined by "/", no separator at either end) is left out.
  LeaveOutVerdict Check(std::string_view relative) const;

 private:
  struct Pattern {
    std::vector<std::string> parts;
    bool anchored = false;
    bool folders_only = false;
  };
  std::vector<Pattern> patterns_;
  bool anchored_ = false;  // any pattern is
  bool cache_folders_ = false;
};

/// True when `name` matches the single-name pattern `pattern` (no "/"), as
/// LeaveOutList matches each name.
bool LeaveOutNameMatches(const std::string& pattern, const std::string& name);

/// True when the folder open as `folder` holds a cache tag whose first
/// bytes are kCacheTagSignature. The tag is opened without following a
/// link, and only its first 43 bytes are read; anything unreadable is no
/// tag.
bool IsCacheFolder(Platform& platform, Handle folder);

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_LEAVE_OUT_H_
