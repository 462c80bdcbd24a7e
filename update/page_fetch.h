// Loading a web page while the window stays responsive.
#ifndef FERRYBOX_UPDATE_PAGE_FETCH_H_
#define FERRYBOX_UPDATE_PAGE_FETCH_H_

#include <QUrl>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

namespace ferrybox {

/// How a page fetch ended.
enum class FetchOutcome {
  kLoaded,     ///< the page arrived, or as much of it as was wanted
  kFailed,     ///< no connection, an HTTP error, a TLS failure, ...
  kTimedOut,   ///< the time limit passed first
  kAbandoned,  ///< the application is quitting
};

/// Receives the page piece by piece; returns true once it needs no more.
using PageConsumer = std::function<bool(std::string_view piece)>;

/// At most this much of a page is read.
inline constexpr std::size_t kPageByteLimit = 1 << 20;
/// At most this many redirects are followed.
inline constexpr int kMaxRedirects = 5;

/// Loads `url` over HTTP or HTTPS and hands its body to `consumer`. Pending
/// events are processed all the while, so the window stays usable; the
/// function returns when the page has arrived, when `consumer` is satisfied,
/// when `byte_limit` bytes have been handed over (the page counts as ending
/// there), when the fetch fails, or when `limit` has passed. Only a reply
/// with a 2xx status counts as a page: an error page is never handed over.
/// Redirects are followed, but never from HTTPS to plain HTTP.
FetchOutcome FetchPage(const QUrl& url, std::chrono::milliseconds limit,
                       const PageConsumer& consumer,
                       std::size_t byte_limit = kPageByteLimit);

}  // namespace ferrybox

#endif  // FERRYBOX_UPDATE_PAGE_FETCH_H_
