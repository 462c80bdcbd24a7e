// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/folder_scan.h"

#include <errno.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "engine/path_names.h"
#include "engine/work_ahead.h"
#include "platform/scoped_handle.h"
#include "platform/temp_name.h"

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

  // The length of the source root's path, cut off a path to match it.
  size_t root_size_ = 0;

  // `folder` is the folder's path with its trailing separator.
  void Walk(Handle dir, const std::string& folder) {
    const size_t collected = files_.size();
    FileId self;
    std::vector<std::string> subfolders;
    if (!Collect(dir, folder, &self, &subfolders)) return;
    ancestors_.push_back(self);
    if (options_.folder_ids != nullptr)
      options_.folder_ids->push_back({self, folder});
    for (const std::string& name : subfolders) {
      if (ended_) break;
      WalkSubfolder(dir, folder, name);
    }
    ancestors_.pop_back();
    // A folder with nothing to copy anywhere below it stands for itself, at
    // its place in the order (its subfolders, if any, made it already). The
    // root is the destination root, which the run checks anyway, and is
    // walked by WalkRoot.
    if (!ended_ && files_.size() == collected) files_.push_back(folder);
  }

  // Walks the root `dir`, its subfolders on threads as `options_` allows.
  void WalkRoot(Handle dir, const std::string& folder) {
    FileId self;
    std::vector<std::string> subfolders;
    if (!Collect(dir, folder, &self, &subfolders)) return;
    ancestors_.push_back(self);
    if (options_.folder_ids != nullptr)
      options_.folder_ids->push_back({self, folder});
    if (options_.read_ahead <= 0 || subfolders.size() < 2 ||
        !WalkAhead(dir, folder, subfolders)) {
      for (const std::string& name : subfolders) {
        if (ended_) break;
        WalkSubfolder(dir, folder, name);
      }
    }
    ancestors_.pop_back();
  }

  // Lists `dir`, collecting its files; false when it is not to be walked.
  bool Collect(Handle dir, const std::string& folder, FileId* self,
               std::vector<std::string>* subfolders) {
    std::vector<DirEntry> entries;
    int error = platform_.ListFolder(dir, &entries, self);
    if (error != 0) {
      Report(folder, error);
      return false;
    }
    if (!KeepAlive()) return false;
    if (options_.has_skip_folder && *self == options_.skip_folder) return false;
    if (options_.has_skip_versions && *self == options_.skip_versions)
      return false;
    if (std::find(ancestors_.begin(), ancestors_.end(), *self) !=
        ancestors_.end())
      return false;
    for (DirEntry& entry : entries) {
      // An entry may cost a lookup, and on a slow drive one lookup may take
      // long: the clock is looked at before each (a read that costs far
      // less than any lookup).
      if (!KeepAlive()) return false;
      // A name matched is left out before anything else is asked of it.
      LeaveOutVerdict verdict = LeaveOutVerdict::kKeep;
      if (options_.leave_out != nullptr) {
        verdict =
            options_.leave_out->Check(folder.substr(root_size_) + entry.name);
        if (verdict == LeaveOutVerdict::kLeaveOut) {
          LeftOut(folder + entry.name);
          continue;
        }
      }
      const EntryType type =
          ResolvedType(platform_, dir, entry, /*keep_links=*/true, &error);
      if (verdict == LeaveOutVerdict::kLeaveOutIfFolder &&
          type == EntryType::kFolder) {
        LeftOut(folder + entry.name);
        continue;
      }
      switch (type) {
        case EntryType::kFile:
        case EntryType::kLink:
          // An unfinished copy, found where a tree that holds a backup is
          // itself backed up, is not worth a copy.
          if (!IsTempName(entry.name))
            files_.push_back(JoinedPath(folder, entry.name));
          break;
        case EntryType::kFolder:
          subfolders->push_back(std::move(entry.name));
          break;
        default:
          // Something there that could not be looked up may be a file to
          // copy: that must not pass in silence.
          if (error != 0) Report(folder + entry.name, error);
          break;
      }
    }
    return true;
  }

  void WalkSubfolder(Handle dir, const std::string& folder,
                     const std::string& name) {
    ScopedHandle child(platform_);
    const int error =
        platform_.Open(dir, name, OpenMode::kFolderNoFollow, child.out());
    if (error == 0) {
      if (options_.leave_out != nullptr &&
          options_.leave_out->cache_folders() &&
          IsCacheFolder(platform_, child.get())) {
        LeftOut(folder + name);
        return;
      }
      Walk(child.get(), folder + name + kSeparator);
    } else if (error != ENOENT) {
      // Gone since the listing is nothing to copy; anything else is.
      Report(folder + name, error);
    }
  }

  // Walks each of `subfolders` of `dir` on a thread into a list of its own,
  // and takes the lists in order. False when no thread could be started.
  bool WalkAhead(Handle dir, const std::string& folder,
                 const std::vector<std::string>& subfolders) {
    struct Walked {
      std::vector<std::string> files;
      std::vector<std::pair<std::string, int>> errors;
      std::vector<std::string> left_out;
      std::vector<SourceFolder> folders;
      bool ended = false;
    };
    const size_t window = static_cast<size_t>(options_.read_ahead);
    std::vector<Walked> walked(window);
    std::unique_ptr<WorkAhead> work;
    work = std::make_unique<WorkAhead>(
        subfolders.size(), window, 1, [&, this](size_t, size_t index) {
          Walked& out = walked[index % window];
          out = Walked{};
          ScanOptions options;
          options.skip_folder = options_.skip_folder;
          options.has_skip_folder = options_.has_skip_folder;
          if (options_.folder_ids != nullptr) options.folder_ids = &out.folders;
          options.skip_versions = options_.skip_versions;
          options.has_skip_versions = options_.has_skip_versions;
          options.on_error = [&out](const std::string& path, int error) {
            out.errors.emplace_back(path, error);
          };
          options.keep_alive = [&work] { return !work->stopping(); };
          options.leave_out = options_.leave_out;
          options.on_left_out = [&out](const std::string& path) {
            out.left_out.push_back(path);
          };
          Walker walker(platform_, out.files, options);
          walker.ancestors_ = ancestors_;
          walker.root_size_ = root_size_;
          walker.WalkSubfolder(dir, folder, subfolders[index]);
          out.ended = walker.ended_;
        });
    if (!work->Start()) return false;
    for (size_t index = 0; index < subfolders.size(); ++index) {
      if (!work->Take(index, [this] { return KeepAliveNow(); })) break;
      Walked& out = walked[index % window];
      files_.insert(files_.end(), std::make_move_iterator(out.files.begin()),
                    std::make_move_iterator(out.files.end()));
      out.files = {};
      if (options_.folder_ids != nullptr)
        options_.folder_ids->insert(options_.folder_ids->end(),
                                    out.folders.begin(), out.folders.end());
      for (const auto& [path, error] : out.errors) Report(path, error);
      if (options_.on_left_out)
        for (const std::string& path : out.left_out) options_.on_left_out(path);
      if (out.ended || !KeepAlive()) {
        ended_ = true;
        break;
      }
    }
    return true;
  }

  // Calls keep_alive now; false once the walk is ended.
  bool KeepAliveNow() {
    if (ended_) return false;
    if (!options_.keep_alive) return true;
    last_alive_ = std::chrono::steady_clock::now();
    ended_ = !options_.keep_alive();
    return !ended_;
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

  void LeftOut(const std::string& path) {
    if (options_.on_left_out) options_.on_left_out(path);
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
};

}  // namespace

void RecursiveDir(Platform& platform, std::vector<std::string>& colFiles,
                  std::string& strFolder, const ScanOptions& options) {
  strFolder = TrailingSlash(strFolder);
  Walker walker(platform, colFiles, options);
  walker.root_size_ = strFolder.size();
  ScopedHandle root(platform);
  const int error =
      platform.Open(kWorkingFolder, strFolder.empty() ? "." : strFolder,
                    OpenMode::kFolder, root.out());
  if (error == 0) {
    walker.WalkRoot(root.get(), strFolder);
  } else if (error != ENOENT) {
    walker.Report(strFolder, error);
  }
}

}  // namespace ferrybox
