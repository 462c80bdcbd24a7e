// SPDX-License-Identifier: GPL-3.0-or-later
// The rules a page fetch keeps, apart from the network: which redirects it
// follows and how much of a page it reads.
#ifndef FERRYBOX_UPDATE_FETCH_RULES_H_
#define FERRYBOX_UPDATE_FETCH_RULES_H_

#include <cstddef>
#include <functional>
#include <string_view>
#include <utility>

namespace ferrybox {

/// Receives a page piece by piece; returns true once it needs no more.
using PageConsumer = std::function<bool(std::string_view piece)>;

/// At most this much of a page is read.
inline constexpr std::size_t kPageByteLimit = 1 << 20;
/// At most this many redirects are followed.
inline constexpr int kMaxRedirects = 5;

/// Whether a fetch that has followed `followed` redirects so far may follow
/// one more, from an address with the scheme `from` ("https") to one with
/// the scheme `to`: at most kMaxRedirects in all, only to HTTP or HTTPS, and
/// never from HTTPS down to plain HTTP. Schemes are compared in lower case,
/// as URLs carry them.
bool RedirectAllowed(std::string_view from, std::string_view to, int followed);

/// Hands the pieces of a page to a consumer, never more than `byte_limit`
/// bytes in all: a page that goes on forever is read only that far.
class PageBudget {
 public:
  PageBudget(PageConsumer consumer, std::size_t byte_limit)
      : consumer_(std::move(consumer)), byte_limit_(byte_limit) {}

  /// How many more bytes the page may hand over.
  std::size_t Room() const { return byte_limit_ - handed_over_; }
  /// Hands over as much of `piece` as there is room for. Returns true when
  /// no more of the page is wanted: the consumer is satisfied or the limit
  /// has been reached (the page then counts as ending there).
  bool Take(std::string_view piece);

 private:
  PageConsumer consumer_;
  std::size_t byte_limit_;
  std::size_t handed_over_ = 0;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UPDATE_FETCH_RULES_H_
