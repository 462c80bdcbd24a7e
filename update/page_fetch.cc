#include "update/page_fetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <optional>

namespace ferrybox {
namespace {

bool IsPage(const QNetworkReply& reply) {
  const int status =
      reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  return status >= 200 && status < 300;
}

}  // namespace

FetchOutcome FetchPage(const QUrl& url, std::chrono::milliseconds limit,
                       const PageConsumer& consumer, std::size_t byte_limit) {
  QNetworkAccessManager manager;
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setMaximumRedirectsAllowed(kMaxRedirects);

  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  std::optional<FetchOutcome> outcome;
  std::size_t handed_over = 0;
  auto end = [&](FetchOutcome how) {
    if (outcome) return;
    outcome = how;
    loop.quit();
  };

  QNetworkReply* reply = manager.get(request);
  // Hands over what has arrived; true when the fetch may stop.
  auto take = [&]() {
    const qint64 room = static_cast<qint64>(byte_limit - handed_over);
    const QByteArray piece = reply->read(room);
    handed_over += static_cast<std::size_t>(piece.size());
    const bool satisfied =
        consumer(std::string_view(piece.constData(), piece.size()));
    return satisfied || handed_over >= byte_limit;
  };
  QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
    if (outcome || !IsPage(*reply)) return;
    if (take()) end(FetchOutcome::kLoaded);
  });
  QObject::connect(reply, &QNetworkReply::finished, &loop, [&] {
    if (outcome) return;
    if (reply->error() != QNetworkReply::NoError || !IsPage(*reply)) {
      end(FetchOutcome::kFailed);
      return;
    }
    while (reply->bytesAvailable() > 0 && !take()) {
    }
    end(FetchOutcome::kLoaded);
  });
  QObject::connect(&deadline, &QTimer::timeout, &loop,
                   [&] { end(FetchOutcome::kTimedOut); });

  deadline.start(limit);
  if (!outcome) loop.exec();
  // The loop also returns when the application quits under it.
  if (!outcome) outcome = FetchOutcome::kAbandoned;
  if (reply->isRunning()) reply->abort();
  delete reply;
  return *outcome;
}

}  // namespace ferrybox
