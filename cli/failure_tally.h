// SPDX-License-Identifier: GPL-3.0-or-later
// Failed copies counted by reason, for the closing summary.
#ifndef FERRYBOX_CLI_FAILURE_TALLY_H_
#define FERRYBOX_CLI_FAILURE_TALLY_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/failure.h"

namespace ferrybox {

class FailureTally {
 public:
  void Add(const Failure& failure);

  int64_t count() const { return count_; }

  /// "3 copies failed (Is a directory: 2, Permission denied: 1); the copy
  /// log lists them: LOG". The reasons go from the most frequent down, ties
  /// in the order first met. When lines were kept out of the copy log, the
  /// end says so instead, with the first reason. Empty when nothing failed.
  std::string Summary(const std::string& log_path) const;
  /// The same for a dry run, which writes no copy log: "3 copies would fail
  /// (Is a directory: 2, Permission denied: 1)".
  std::string DryRunSummary() const;

 private:
  // "(Is a directory: 2, Permission denied: 1)".
  std::string Reasons() const;

  // (reason, failures) in the order first met.
  std::vector<std::pair<int, int64_t>> reasons_;
  int64_t count_ = 0;
  int64_t unlogged_ = 0;
  int log_error_ = 0;
};

}  // namespace ferrybox

#endif  // FERRYBOX_CLI_FAILURE_TALLY_H_
