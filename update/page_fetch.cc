// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/page_fetch.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <algorithm>
#include <string_view>

namespace ferrybox {
namespace {

bool IsPage(const QNetworkReply& reply) {
  const int status =
      reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  return status >= 200 && status < 300;
}

}  // namespace

PageFetch::PageFetch(QObject* parent) : QObject(parent) {
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this,
          [this] { End(FetchOutcome::kTimedOut); });
}

PageFetch::~PageFetch() { DropReply(); }

void PageFetch::Start(const QUrl& url, std::chrono::milliseconds limit,
                      PageConsumer consumer, std::size_t byte_limit) {
  DropReply();
  if (manager_ == nullptr) manager_ = new QNetworkAccessManager(this);
  budget_.emplace(std::move(consumer), byte_limit);
  redirects_ = 0;
  deadline_.start(limit);
  Get(url);
}

void PageFetch::Get(const QUrl& url) {
  current_url_ = url;
  QNetworkRequest request(url);
  // Redirects come back as replies and are judged in ReplyFinished: Qt's own
  // redirect policies cannot be held to RedirectAllowed.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
  reply_ = manager_->get(request);
  connect(reply_, &QNetworkReply::readyRead, this, [this] {
    // The body of a redirect or of an error page is not the page.
    if (IsPage(*reply_) && TakeAvailable()) End(FetchOutcome::kLoaded);
  });
  connect(reply_, &QNetworkReply::finished, this, &PageFetch::ReplyFinished);
}

void PageFetch::ReplyFinished() {
  const QUrl target =
      reply_->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
  if (reply_->error() == QNetworkReply::NoError && !target.isEmpty()) {
    const QUrl next = current_url_.resolved(target);
    if (!RedirectAllowed(current_url_.scheme().toStdString(),
                         next.scheme().toStdString(), redirects_)) {
      End(FetchOutcome::kFailed);
      return;
    }
    ++redirects_;
    DropReply();
    Get(next);
    return;
  }
  if (reply_->error() != QNetworkReply::NoError || !IsPage(*reply_)) {
    End(FetchOutcome::kFailed);
    return;
  }
  TakeAvailable();
  End(FetchOutcome::kLoaded);
}

bool PageFetch::TakeAvailable() {
  while (reply_->bytesAvailable() > 0) {
    const qint64 wanted = std::min<qint64>(
        reply_->bytesAvailable(), static_cast<qint64>(budget_->Room()));
    const QByteArray piece = reply_->read(wanted);
    if (budget_->Take(std::string_view(piece.constData(), piece.size())))
      return true;
  }
  return false;
}

void PageFetch::End(FetchOutcome outcome) {
  deadline_.stop();
  DropReply();
  emit Finished(outcome);
}

void PageFetch::DropReply() {
  if (reply_ == nullptr) return;
  QNetworkReply* reply = reply_;
  reply_ = nullptr;
  reply->disconnect(this);
  reply->abort();
  // This may run inside one of the reply's own signals.
  reply->deleteLater();
}

}  // namespace ferrybox
