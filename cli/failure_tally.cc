// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/failure_tally.h"

#include <algorithm>

namespace ferrybox {

void FailureTally::Add(const Failure& failure) {
  ++count_;
  auto it = std::find_if(
      reasons_.begin(), reasons_.end(),
      [&failure](const auto& reason) { return reason.first == failure.error; });
  if (it == reasons_.end()) {
    reasons_.emplace_back(failure.error, 1);
  } else {
    ++it->second;
  }
  if (failure.log_error != 0) {
    ++unlogged_;
    if (log_error_ == 0) log_error_ = failure.log_error;
  }
}

std::string FailureTally::Reasons() const {
  auto reasons = reasons_;
  std::stable_sort(
      reasons.begin(), reasons.end(),
      [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string text = "(";
  for (size_t i = 0; i < reasons.size(); ++i) {
    if (i > 0) text += ", ";
    text +=
        ErrorText(reasons[i].first) + ": " + std::to_string(reasons[i].second);
  }
  return text + ")";
}

std::string FailureTally::DryRunSummary() const {
  if (count_ == 0) return "";
  return std::to_string(count_) +
         (count_ == 1 ? " copy would fail " : " copies would fail ") +
         Reasons();
}

std::string FailureTally::Summary(const std::string& log_path) const {
  if (count_ == 0) return "";
  std::string text = std::to_string(count_) +
                     (count_ == 1 ? " copy failed " : " copies failed ") +
                     Reasons() + "; ";
  if (unlogged_ == 0) return text + "the copy log lists them: " + log_path;
  if (unlogged_ < count_) {
    text += "the copy log lists " + std::to_string(count_ - unlogged_) +
            " of them, the rest ";
  } else {
    text += "the copy log ";
  }
  return text + "could not be written: " + log_path + ": " +
         ErrorText(log_error_);
}

}  // namespace ferrybox
