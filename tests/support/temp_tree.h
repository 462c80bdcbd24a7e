// Real folder trees in a temporary folder, for engine tests.
#ifndef FERRYBOX_TESTS_SUPPORT_TEMP_TREE_H_
#define FERRYBOX_TESTS_SUPPORT_TEMP_TREE_H_

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ferrybox::testing {

/// A fresh folder under the system's temporary folder, removed with
/// everything in it when the object goes.
class TempTree {
 public:
  TempTree() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ferrybox-test-XXXXXX")
            .string();
    if (mkdtemp(pattern.data()) != nullptr) root_ = pattern;
  }
  ~TempTree() {
    if (!root_.empty()) RemoveBelow(AT_FDCWD, root_.c_str());
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  /// The folder itself, without a trailing separator.
  const std::string& root() const { return root_; }
  /// `relative` below the folder.
  std::string Path(const std::string& relative) const {
    return root_ + "/" + relative;
  }

  /// Writes a file, making its folders first.
  std::string Write(const std::string& relative, const std::string& content) {
    const std::string path = Path(relative);
    std::filesystem::create_directories(
        std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string MakeFolder(const std::string& relative) {
    const std::string path = Path(relative);
    std::filesystem::create_directories(path);
    return path;
  }

 private:
  // Level by level, so that trees deeper than the path limit go too.
  static void RemoveBelow(int parent, const char* name) {
    int dir = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (dir >= 0) {
      DIR* stream = fdopendir(dir);
      std::vector<std::string> names;
      while (struct dirent* entry = readdir(stream)) {
        const std::string entry_name = entry->d_name;
        if (entry_name != "." && entry_name != "..")
          names.push_back(entry_name);
      }
      for (const std::string& entry_name : names) {
        if (unlinkat(dir, entry_name.c_str(), 0) != 0)
          RemoveBelow(dir, entry_name.c_str());
      }
      closedir(stream);
    }
    unlinkat(parent, name, AT_REMOVEDIR);
  }

  std::string root_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

/// Last-modified time in nanoseconds since 1970; -1 when it cannot be read.
inline int64_t MtimeNs(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
         st.st_mtim.tv_nsec;
}

inline void SetMtimeNs(const std::string& path, int64_t ns) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = ns / 1000000000;
  times[1].tv_nsec = ns % 1000000000;
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

inline unsigned Mode(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

/// Makes `levels` nested folders named `name` below `root`, each holding a
/// file `file_name` with its level number as content, one level at a time so
/// the whole path may exceed the system's path limit. Returns false on any
/// failure.
inline bool MakeDeepChain(const std::string& root, int levels,
                          const std::string& name,
                          const std::string& file_name) {
  int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < levels && dir >= 0; ++level) {
    if (mkdirat(dir, name.c_str(), 0755) != 0) break;
    int next = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(dir);
    dir = next;
    if (dir < 0) return false;
    int file = openat(dir, file_name.c_str(), O_WRONLY | O_CREAT, 0644);
    if (file < 0) break;
    const std::string content = std::to_string(level);
    const bool written = write(file, content.data(), content.size()) ==
                         static_cast<ssize_t>(content.size());
    close(file);
    if (!written) break;
    if (level == levels - 1) {
      close(dir);
      return true;
    }
  }
  if (dir >= 0) close(dir);
  return false;
}

/// Reads the file `file_name` at `level` (0-based) of a chain made by
/// MakeDeepChain; empty when it cannot be read.
inline std::string ReadDeepChain(const std::string& root, int level,
                                 const std::string& name,
                                 const std::string& file_name) {
  int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i <= level && dir >= 0; ++i) {
    int next = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(dir);
    dir = next;
  }
  if (dir < 0) return {};
  std::string content;
  int file = openat(dir, file_name.c_str(), O_RDONLY);
  close(dir);
  if (file < 0) return {};
  char buffer[64];
  ssize_t n;
  while ((n = read(file, buffer, sizeof buffer)) > 0) content.append(buffer, n);
  close(file);
  return content;
}

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_TEMP_TREE_H_
