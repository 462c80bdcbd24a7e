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
  using enum FetchOutcome;
  using std::chrono::milliseconds;
  const QByteArray big((1 << 20) + 1000, 'x');
  // Fails after the last redirect allowed.
  const Reply loop(302, "", "Location: /start\r\n");
  const struct {
    const char* name;
    Reply reply;
    FetchOutcome outcome;
    std::size_t received;
    int requests;
    milliseconds limit = milliseconds(5000);
  } cases[] = {
      {"a page", {200, "hello"}, kLoaded, 5, 1},
      {"a redirect", {301, "moved", "Location: /page\r\n"}, kLoaded, 5, 2},
      {"an error page", {500, "error page"}, kFailed, 0, 1},
      {"a page beyond the cap", {200, big}, kLoaded, kPageByteLimit, 1},
      {"no answer", Reply::Never(), kTimedOut, 0, 1, milliseconds(200)},
      {"a redirect loop", loop, kFailed, 0, 1 + kMaxRedirects},
      {"a page that stops coming", Reply::Stalled("<p>version@11"), kTimedOut,
       13, 1, milliseconds(300)},
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
