// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/page_fetch.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <string>

#include "tests/support/loopback_http.h"

namespace ferrybox {
namespace {

using Reply = testing::LoopbackHttp::Reply;

TEST(PageFetch, EndsWithThePageOrSaysWhyNot) {
  using std::chrono::milliseconds;
  const QByteArray big((1 << 20) + 1000, 'x');
  const struct {
    const char* name;
    Reply reply;
    milliseconds limit;
    FetchOutcome outcome;
    std::size_t received;
    int requests;
  } cases[] = {
      // clang-format off
      {"a page", {200, "hello"}, milliseconds(5000), FetchOutcome::kLoaded,
       5, 1},
      {"a redirect", {301, "moved", "Location: /page\r\n"},
       milliseconds(5000), FetchOutcome::kLoaded, 5, 2},
      {"an error page", {500, "error page"}, milliseconds(5000),
       FetchOutcome::kFailed, 0, 1},
      {"a page beyond the cap", {200, big}, milliseconds(5000),
       FetchOutcome::kLoaded, kPageByteLimit, 1},
      {"no answer", Reply::Never(), milliseconds(200), FetchOutcome::kTimedOut,
       0, 1},
      // Fails after the last redirect allowed.
      {"a redirect loop", {302, "", "Location: /start\r\n"},
       milliseconds(5000), FetchOutcome::kFailed, 0, 1 + kMaxRedirects},
      {"a page that stops coming", Reply::Stalled("<p>version@11"),
       milliseconds(300), FetchOutcome::kTimedOut, 13, 1},
      // clang-format on
  };
  testing::LoopbackHttp server;
  ASSERT_TRUE(server.listening());
  server.Set("/page", {200, "hello"});
  PageFetch fetch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.Set("/start", c.reply);
    QSignalSpy finished(&fetch, &PageFetch::Finished);
    std::size_t received = 0;
    const int requests_before = server.requests();
    fetch.Start(QUrl(QString::fromStdString(server.Url("/start"))), c.limit,
                [&](std::string_view piece) {
                  received += piece.size();
                  return false;
                });
    EXPECT_EQ(finished.count(), 0);  // never within Start
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() > 0; }, 10000));
    EXPECT_EQ(finished.takeFirst().at(0).value<FetchOutcome>(), c.outcome);
    EXPECT_EQ(received, c.received);
    EXPECT_EQ(server.requests() - requests_before, c.requests);
  }
}

}  // namespace
}  // namespace ferrybox
