// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers for the command-line tests.
#ifndef FERRYBOX_TESTS_CLI_CLI_TEST_SUPPORT_H_
#define FERRYBOX_TESTS_CLI_CLI_TEST_SUPPORT_H_

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_tree.h"

namespace ferrybox::testing {

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
