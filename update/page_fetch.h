// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a web page in the background of the event loop.
#ifndef FERRYBOX_UPDATE_PAGE_FETCH_H_
#define FERRYBOX_UPDATE_PAGE_FETCH_H_

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstddef>
#include <optional>

#include "update/fetch_rules.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace ferrybox {

/// How a page fetch ended.
enum class FetchOutcome {
  kLoaded,    ///< the page arrived, or as much of it as was wanted
  kFailed,    ///< no connection, an HTTP error, a refused redirect, ...
  kTimedOut,  ///< the time limit passed first
};

/// Loads one page at a time over HTTP or HTTPS. Nothing waits for it: Start
/// returns at once, the page arrives through the event loop, and Finished
/// tells how the fetch ended.
class PageFetch : public QObject {
  Q_OBJECT

 public:
  explicit PageFetch(QObject* parent = nullptr);
  /// A fetch under way is dropped without a word.
  ~PageFetch() override;

  /// Starts loading `url` and hands its body to `consumer` as it arrives.
  /// The fetch ends when the page has arrived, when `consumer` is satisfied,
  /// when `byte_limit` bytes have been handed over (the page counts as ending
  /// there), when it fails, or when `limit` has passed. Only a reply with a
  /// 2xx status counts as a page: an error page is never handed over.
  /// Redirects are followed as RedirectAllowed says; the time limit covers
  /// them all. A fetch still under way is dropped first.
  void Start(const QUrl& url, std::chrono::milliseconds limit,
             PageConsumer consumer, std::size_t byte_limit = kPageByteLimit);

 signals:
  /// Emitted once for every fetch that no later Start dropped, never from
  /// within Start itself.
  void Finished(FetchOutcome outcome);

 private:
  /// Sends the request for `url`, the first or the target of a redirect.
  void Get(const QUrl& url);
  void ReplyFinished();
  /// Hands over what has arrived; true when no more is wanted.
  bool TakeAvailable();
  void End(FetchOutcome outcome);
  /// Forgets the reply under way, which then goes without a signal.
  void DropReply();

  // Made by the first Start: most program starts never fetch a page.
  QNetworkAccessManager* manager_ = nullptr;
  QTimer deadline_;
  QNetworkReply* reply_ = nullptr;
  // The address the reply under way comes from: redirects are judged and
  // resolved from it.
  QUrl current_url_;
  int redirects_ = 0;  // followed so far
  std::optional<PageBudget> budget_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_UPDATE_PAGE_FETCH_H_
