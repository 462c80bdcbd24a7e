// SPDX-License-Identifier: GPL-3.0-or-later
// Real folder trees in a temporary folder, for engine tests.
#ifndef FERRYBOX_TESTS_SUPPORT_TEMP_TREE_H_
#define FERRYBOX_TESTS_SUPPORT_TEMP_TREE_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace ferrybox::testing {

/// Writes `content` to `path`, making its folders first.
inline void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(
      std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

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
  // rm walks level by level, so trees deeper than the path limit go too. A
  // tree rm cannot remove stays in the temporary folder.
  ~TempTree() {
    if (root_.empty()) return;
    [[maybe_unused]] int status =
        std::system(("rm -rf --one-file-system '" + root_ + "'").c_str());
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& root() const { return root_; }
  std::string Path(const std::string& relative) const {
    return root_ + "/" + relative;
  }
  /// Writes a file, making its folders first; returns its path.
  std::string Write(const std::string& relative, const std::string& content) {
    WriteFile(Path(relative), content);
    return Path(relative);
  }
  void MakeFolder(const std::string& relative) {
    std::filesystem::create_directories(Path(relative));
  }

 private:
  std::string root_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

/// The names in `folder`, or (`whole_tree`) the paths at every depth below
/// it, relative to it; links are not followed. Empty when it cannot be read.
inline std::set<std::string> Entries(const std::string& folder,
                                     bool whole_tree = false) {
  std::set<std::string> entries;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(folder, error), end;
       !error && it != end; it.increment(error)) {
    entries.insert(it->path().lexically_relative(folder).string());
    if (!whole_tree) it.disable_recursion_pending();
  }
  return entries;
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

/// Last-modified time in nanoseconds since 1970; -1 when it cannot be read.
inline int64_t MtimeNs(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}

inline void SetMtimeNs(const std::string& path, int64_t ns) {
  const struct timespec times[2] = {{0, UTIME_OMIT},
                                    {ns / 1000000000, ns % 1000000000}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

inline unsigned Mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_SUPPORT_TEMP_TREE_H_
