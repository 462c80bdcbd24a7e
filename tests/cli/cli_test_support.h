// Temporary folders and small file helpers for the command-line tests.
#ifndef FERRYBOX_TESTS_CLI_CLI_TEST_SUPPORT_H_
#define FERRYBOX_TESTS_CLI_CLI_TEST_SUPPORT_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace ferrybox::testing {

/// A fresh temporary folder, removed with everything in it at the end.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ferrybox-cli-XXXXXX")
            .string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScopedTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

/// Writes `content` to `path`, creating the folders on the way.
inline void WriteFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(
      std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

/// The paths of every entry under `root`, relative to it.
inline std::set<std::string> TreeEntries(const std::string& root) {
  std::set<std::string> entries;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator();
       it.increment(ec)) {
    entries.insert(std::filesystem::relative(it->path(), root).string());
  }
  return entries;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace ferrybox::testing

#endif  // FERRYBOX_TESTS_CLI_CLI_TEST_SUPPORT_H_
