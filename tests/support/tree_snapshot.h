// Everything below a folder, read level by level so that trees deeper than
// the path limit can be compared too.
#ifndef FERRYBOX_TESTS_SUPPORT_TREE_SNAPSHOT_H_
#define FERRYBOX_TESTS_SUPPORT_TREE_SNAPSHOT_H_

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ferrybox::testing {

/// One entry of a tree. Links are not followed.
struct SnapshotEntry {
  enum Type { kFile, kFolder, kLink, kOther };
  Type type = kOther;
  /// A file's content, a link's target.
  std::string content;
  int64_t mtime_ns = 0;
  unsigned mode = 0;
  unsigned uid = 0;
  friend bool operator==(const SnapshotEntry&, const SnapshotEntry&) = default;
};

/// Entries keyed by their path below the root ("sub/a").
using Snapshot = std::map<std::string, SnapshotEntry>;

namespace internal {

inline void SnapshotBelow(int dir, const std::string& prefix,
                          Snapshot* snapshot) {
  DIR* stream = fdopendir(dir);
  if (stream == nullptr) {
    close(dir);
    return;
  }
  std::vector<std::string> names;
  while (struct dirent* entry = readdir(stream)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  for (const std::string& name : names) {
    struct stat st;
    if (fstatat(dirfd(stream), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    SnapshotEntry entry;
    entry.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                     st.st_mtim.tv_nsec;
    entry.mode = st.st_mode & 07777;
    entry.uid = st.st_uid;
    const std::string path = prefix + name;
    if (S_ISREG(st.st_mode)) {
      entry.type = SnapshotEntry::kFile;
      const int file = openat(dirfd(stream), name.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      // On the heap: this frame repeats once per level of a deep tree.
      std::vector<char> buffer(65536);
      ssize_t n;
      while (file >= 0 && (n = read(file, buffer.data(), buffer.size())) > 0)
        entry.content.append(buffer.data(), static_cast<size_t>(n));
      if (file >= 0) close(file);
    } else if (S_ISLNK(st.st_mode)) {
      entry.type = SnapshotEntry::kLink;
      std::vector<char> target(4096);
      const ssize_t n =
          readlinkat(dirfd(stream), name.c_str(), target.data(), target.size());
      if (n > 0) entry.content.assign(target.data(), static_cast<size_t>(n));
    } else if (S_ISDIR(st.st_mode)) {
      entry.type = SnapshotEntry::kFolder;
      entry.mtime_ns = 0;  // changes with every entry made inside
    }
    (*snapshot)[path] = entry;
    if (entry.type == SnapshotEntry::kFolder) {
      const int child = openat(dirfd(stream), name.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child >= 0) SnapshotBelow(child, path + "/", snapshot);
    }
  }
  closedir(stream);
}

}  // namespace internal

/// Every entry below `root`; empty when `root` is missing.
inline Snapshot TakeSnapshot(const std::string& root) {
  Snapshot snapshot;
  const int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) internal::SnapshotBelow(dir, "", &snapshot);
  return snapshot;
}

/// The last name of a snapshot path.
inline std::string BaseName(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_TREE_SNAPSHOT_H_
