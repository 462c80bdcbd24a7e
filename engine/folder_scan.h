// SPDX-License-Identifier: GPL-3.0-or-later
// Walking folders: collecting the files of a tree in order.
#ifndef FERRYBOX_ENGINE_FOLDER_SCAN_H_
#define FERRYBOX_ENGINE_FOLDER_SCAN_H_

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "engine/leave_out.h"
#include "platform/platform.h"

namespace ferrybox {

/// The longest a walk goes on without calling ScanOptions::keep_alive.
inline constexpr std::chrono::milliseconds kScanKeepAliveInterval{100};

/// A folder the scan walked: its identity and its path, with a trailing
/// separator.
struct SourceFolder {
  FileId id;
  std::string path;
};

/// What RecursiveDir needs besides the folder.
struct ScanOptions {
  /// A folder never entered, such as a destination that lies inside the
  /// source. Ignored unless `has_skip_folder`.
  FileId skip_folder;
  bool has_skip_folder = false;
  /// When given, receives every folder walked, the root included.
  std::vector<SourceFolder>* folder_ids = nullptr;
  /// A second such folder: the earlier versions a backup keeps, when the
  /// source is a backup. Ignored unless `has_skip_versions`.
  FileId skip_versions;
  bool has_skip_versions = false;
  /// Told of every folder below the root that exists but cannot be read,
  /// and of every entry that exists but cannot be looked up (so it may be a
  /// file left out); the path carries no trailing separator. The walk goes
  /// on without it.
  std::function<void(const std::string& path, int error)> on_error;
  /// When set, called about every kScanKeepAliveInterval while the walk goes
  /// on (looked for after each folder listing and before each entry), so
  /// that a window can paint during a long scan, however slow each lookup.
  /// Returning false ends the walk at once, keeping the files collected so
  /// far.
  std::function<bool()> keep_alive;
  /// When not 0, the subfolders of `strFolder` are walked on a few threads,
  /// at most this many ahead of the one whose files are being collected;
  /// what is collected, and what `on_error` is told, stay as in a walk on
  /// the calling thread alone, in the same order. Callbacks are made on the
  /// calling thread only.
  int read_ahead = 0;
  /// What the walk leaves out, when set: an entry that a pattern matches
  /// is neither looked up nor entered (a pattern for folders only costs
  /// the lookup of its type where the listing does not tell it), and a
  /// folder tagged as a cache is opened only to read its tag.
  const LeaveOutList* leave_out = nullptr;
  /// Told of each entry left out (not of what lies below it), its path
  /// with no trailing separator, in walk order.
  std::function<void(const std::string& path)> on_left_out;
};

/// Appends to `colFiles` the full path of every file under `strFolder`,
/// depth first: the files of a folder in listing order, then the whole tree
/// of each of its subfolders in listing order. `strFolder` is given back in
/// its TrailingSlash form, and every path is that prefix followed by the
/// names below it. Each folder is listed once. Regular files and symbolic
/// links of every kind (to a file, to a folder, dangling) are collected, a
/// link as an entry of its folder that is never followed nor entered. A
/// folder below `strFolder` with nothing collected anywhere below it is
/// collected itself, as its path with a trailing separator, where its files
/// would have been; a
/// folder already on the way down (a loop through a mount) is not entered
/// again; FIFOs, sockets, devices, entries gone since the listing and
/// unfinished copies (IsTempName) are left out. `strFolder` itself is
/// followed when it is a link. An empty `strFolder`
/// walks the working folder and collects bare names. A missing root adds
/// nothing.
void RecursiveDir(Platform& platform, std::vector<std::string>& colFiles,
                  std::string& strFolder, const ScanOptions& options = {});

}  // namespace ferrybox

#endif  // FERRYBOX_ENGINE_FOLDER_SCAN_H_
