// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/fetch_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferrybox {
namespace {

TEST(RedirectAllowed, NeverFromHttpsToPlainHttpNorBeyondTheLimit) {
  for (const char* from : {"http", "https"}) {
    SCOPED_TRACE(from);
    EXPECT_TRUE(RedirectAllowed(from, "https", 0));
    for (const char* to : {"ftp", "file", "", "httpx"})
      EXPECT_FALSE(RedirectAllowed(from, to, 0)) << to;
  }
  EXPECT_TRUE(RedirectAllowed("http", "http", 0));
  EXPECT_FALSE(RedirectAllowed("https", "http", 0));
  EXPECT_TRUE(RedirectAllowed("https", "https", kMaxRedirects - 1));
  EXPECT_FALSE(RedirectAllowed("https", "https", kMaxRedirects));
}

TEST(PageBudget, HandsOverNoMoreThanTheLimitAndStopsThere) {
  constexpr std::size_t kNever = std::string::npos;
  const struct {
    std::size_t limit;
    std::vector<std::size_t> pieces;
    std::size_t satisfied_at;  ///< bytes after which the consumer is content
    std::vector<bool> stops;   ///< what Take answers for each piece
    std::size_t handed_over;
  } cases[] = {
      {10, {4, 4}, kNever, {false, false}, 8},
      {10, {4, 6}, kNever, {false, true}, 10},  // the limit exactly
      {10, {4, 8}, kNever, {false, true}, 10},  // the second piece cut
      {10, {12}, kNever, {true}, 10},
      {10, {0, 3}, kNever, {false, false}, 3},
      {10, {3}, 3, {true}, 3},  // the consumer is content
      {kPageByteLimit, {(1 << 20) - 1, 2}, kNever, {false, true}, 1 << 20},
  };
  for (const auto& c : cases) {
    std::string received;
    PageBudget budget(
        [&](std::string_view piece) {
          received.append(piece);
          return received.size() >= c.satisfied_at;
        },
        c.limit);
    std::string sent;
    for (std::size_t i = 0; i < c.pieces.size(); ++i) {
      const std::string piece(c.pieces[i], static_cast<char>('a' + i));
      sent += piece;
      EXPECT_EQ(budget.Take(piece), c.stops[i]) << c.limit << " piece " << i;
    }
    EXPECT_EQ(received, sent.substr(0, c.handed_over)) << c.limit;
    EXPECT_EQ(budget.Room(), c.limit - c.handed_over) << c.limit;
  }
}

}  // namespace
}  // namespace ferrybox
