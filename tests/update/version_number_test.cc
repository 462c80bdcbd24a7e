// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/version_number.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>
#include <vector>

namespace ferrybox {
namespace {

TEST(LeadingNumber, ReadsDigitsFromTheStartSkippingBlanks) {
  const std::pair<std::int64_t, std::vector<const char*>> cases[] = {
      {1129, {"1129", "1 1\t2\r\n9"}},  // blanks anywhere are skipped
      {999, {"0999"}},
      {112, {" 112"}},
      {12, {"12", "12ab"}},
      {1, {"1.29"}},
      {0, {"-5", "abc", "", "  "}},
      {std::numeric_limits<std::int64_t>::max(), {"99999999999999999999"}}};
  for (const auto& [number, texts] : cases) {
    for (const char* text : texts)
      EXPECT_EQ(LeadingNumber(text), number) << text;
  }
}

TEST(OwnVersionNumber, IsTheVersionTextWithoutItsDots) {
  const struct {
    const char* text;
    std::int64_t number;
  } cases[] = {
      {"1.1.28", 1128}, {"1.1.9", 119}, {"2.0.0", 200},
      {"1.10.0", 1100}, {"", 0},        {"1.1.28 beta", 1128},
  };
  for (const auto& c : cases)
    EXPECT_EQ(OwnVersionNumber(c.text), c.number) << c.text;
}

}  // namespace
}  // namespace ferrybox
