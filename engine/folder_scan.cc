#include "engine/folder_scan.h"

#include <errno.h>

#include <algorithm>

#include "engine/scoped_handle.h"
#include "engine/temp_name.h"

namespace ferrybox {
namespace {

// True when a lookup failed because there is nothing to look at: the entry
// went away since the listing, or a link leads nowhere (or only round in
// a loop of links).
bool NothingThere(int error) {
  return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

// The type of an entry as a walk treats it. With `keep_links` a link stays
// kLink, whatever it points at; otherwise it counts as what it points at,
// folders excepted (a link to a folder is never entered). Anything that
// cannot be settled is kOther; when that is because a lookup failed on
// something that is there, `*error` tells why.
EntryType ResolvedType(Platform& platform, Handle dir, const DirEntry& entry,
                       bool keep_links, int* error) {
  *error = 0;
  EntryType type = entry.type;
  if (type == EntryType::kUnknown) {
    FileInfo info;
    const int lookup = platform.Stat(dir, entry.name, false, &info);
    if (lookup != 0) {
      if (!NothingThere(lookup)) *error = lookup;
      return EntryType::kOther;
    }
    type = info.type;
  }
  if (type == EntryType::kLink && !keep_links) {
    FileInfo info;
    const int lookup = platform.Stat(dir, entry.name, true, &info);
    if (lookup != 0) {
      if (!NothingThere(lookup)) *error = lookup;
      return EntryType::kOther;
    }
    return info.type == EntryType::kFile ? EntryType::kFile : EntryType::kOther;
  }
  return type;
}

class Walker {
 public:
  Walker(Platform& platform, std::vector<std::string>& files,
         const ScanOptions& options)
      : platform_(platform),
        files_(files),
        options_(options),
        last_alive_(std::chrono::steady_clock::now()) {}

  // `folder` is the folder's path with its trailing separator.
  void Walk(Handle dir, const std::string& folder) {
    const size_t collected = files_.size();
    WalkEntries(dir, folder);
    // A folder with nothing to copy anywhere below it stands for itself, at
    // its place in the order (its subfolders, if any, made it already). The
    // root is the destination root, which the run checks anyway.
    if (!ended_ && walked_ && files_.size() == collected && !ancestors_.empty())
      files_.push_back(folder);
  }

  // Collects the entries of the folder, then walks its subfolders. Sets
  // `walked_` when the folder was listed and is part of the tree.
  void WalkEntries(Handle dir, const std::string& folder) {
    walked_ = false;
    std::vector<DirEntry> entries;
    FileId self;
    int error = platform_.ListFolder(dir, &entries, &self);
    if (error != 0) {
      Report(folder, error);
      return;
    }
    if (!KeepAlive()) return;
    if (options_.has_skip_folder && self == options_.skip_folder) return;
    if (std::find(ancestors_.begin(), ancestors_.end(), self) !=
        ancestors_.end())
      return;
    walked_ = true;

    std::vector<std::string> subfolders;
    for (DirEntry& entry : entries) {
      // An entry may cost a lookup, and on a slow drive one lookup may take
      // long: the clock is looked at before each (a read that costs far
      // less than any lookup).
      if (!KeepAlive()) return;
      switch (
          ResolvedType(platform_, dir, entry, /*keep_links=*/true, &error)) {
        case EntryType::kFile:
        case EntryType::kLink:
          // An unfinished copy, found where a tree that holds a backup is
          // itself backed up, is not worth a copy.
          if (!IsTempName(entry.name)) files_.push_back(folder + entry.name);
          break;
        case EntryType::kFolder:
          subfolders.push_back(std::move(entry.name));
          break;
        default:
          // Something there that could not be looked up may be a file to
          // copy: that must not pass in silence.
          if (error != 0) Report(folder + entry.name, error);
          break;
      }
    }
    entries = {};

    ancestors_.push_back(self);
    for (const std::string& name : subfolders) {
      if (ended_) break;
      ScopedHandle child(platform_);
      error = platform_.Open(dir, name, OpenMode::kFolderNoFollow, child.out());
      if (error == 0) {
        Walk(child.get(), folder + name + kSeparator);
      } else if (error != ENOENT) {
        // Gone since the listing is nothing to copy; anything else is.
        Report(folder + name, error);
      }
    }
    ancestors_.pop_back();
    walked_ = true;
  }

  // Calls keep_alive when its time has come; false once the walk is ended.
  bool KeepAlive() {
    if (ended_) return false;
    if (!options_.keep_alive) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_alive_ < kScanKeepAliveInterval) return true;
    last_alive_ = now;
    ended_ = !options_.keep_alive();
    return !ended_;
  }

  void Report(std::string folder, int error) {
    if (!options_.on_error) return;
    while (folder.size() > 1 && folder.back() == kSeparator) folder.pop_back();
    options_.on_error(folder, error);
  }

 private:
  Platform& platform_;
  std::vector<std::string>& files_;
  const ScanOptions& options_;
  std::vector<FileId> ancestors_;
  std::chrono::steady_clock::time_point last_alive_;
  bool ended_ = false;
  bool walked_ = false;
};

}  // namespace

std::string TrailingSlash(const std::string& strFolder) {
  if (strFolder.empty() || strFolder.back() == kSeparator) return strFolder;
  return strFolder + kSeparator;
}

int lastslash(const std::string& fname) {
  const size_t pos = fname.rfind(kSeparator);
  return pos == std::string::npos ? 0 : static_cast<int>(pos) + 1;
}

bool FileExists(Platform& platform, const std::string& path) {
  if (path.empty()) return false;
  FileInfo info;
  return platform.Stat(kWorkingFolder, path, true, &info) == 0 &&
         info.type == EntryType::kFile;
}

std::vector<std::string> ListFiles_p(Platform& platform,
                                     const std::string& Path,
                                     const std::string& extension) {
  std::vector<std::string> names;
  ScopedHandle dir(platform);
  if (platform.Open(kWorkingFolder, Path.empty() ? "." : Path,
                    OpenMode::kFolder, dir.out()) != 0)
    return names;
  std::vector<DirEntry> entries;
  FileId self;
  // A listing cut short still gives the names it reached.
  (void)platform.ListFolder(dir.get(), &entries, &self);
  for (DirEntry& entry : entries) {
    if (entry.name.find(extension) == std::string::npos) continue;
    int error = 0;
    if (ResolvedType(platform, dir.get(), entry, /*keep_links=*/false,
                     &error) != EntryType::kFile)
      continue;
    names.push_back(std::move(entry.name));
  }
  return names;
}

void RecursiveDir(Platform& platform, std::vector<std::string>& colFiles,
                  std::string& strFolder, const ScanOptions& options) {
  strFolder = TrailingSlash(strFolder);
  Walker walker(platform, colFiles, options);
  ScopedHandle root(platform);
  const int error =
      platform.Open(kWorkingFolder, strFolder.empty() ? "." : strFolder,
                    OpenMode::kFolder, root.out());
  if (error == 0) {
    walker.Walk(root.get(), strFolder);
  } else if (error != ENOENT) {
    walker.Report(strFolder, error);
  }
}

}  // namespace ferrybox
