// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/version_number.h"

#include <gtest/gtest.h>

#include <limits>

namespace ferrybox {
namespace {

TEST(LeadingNumber, ReadsDigitsFromTheStartSkippingBlanks) {
  const struct {
    const char* text;
    std::int64_t number;
  } cases[] = {
      {"1129", 1129},
      {"0999", 999},
      {" 112", 112},
      {"1 1\t2\r\n9", 1129},  // blanks anywhere are skipped
      {"12", 12},
      {"12ab", 12},
      {"1.29", 1},
      {"-5", 0},
      {"abc", 0},
      {"", 0},
      {"  ", 0},
      {"99999999999999999999", std::numeric_limits<std::int64_t>::max()},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LeadingNumber(c.text), c.number) << c.text;
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
