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
  const QByteArray big((1 << 20) + 1000, 'x');
  const struct {
    const char* name;
    Reply reply;
    std::chrono::milliseconds limit;
    FetchOutcome outcome;
    std::size_t received;
  } cases[] = {
      {"a page",
       {200, "hello"},
       std::chrono::seconds(5),
       FetchOutcome::kLoaded,
       5},
      {"a redirect",
       {301, "moved", "Location: /page\r\n"},
       std::chrono::seconds(5),
       FetchOutcome::kLoaded,
       5},
      {"an error page",
       {500, "error page"},
       std::chrono::seconds(5),
       FetchOutcome::kFailed,
       0},
      {"a page beyond the cap",
       {200, big},
       std::chrono::seconds(5),
       FetchOutcome::kLoaded,
       kPageByteLimit},
      {"no answer", Reply::Never(), std::chrono::milliseconds(200),
       FetchOutcome::kTimedOut, 0},
      {"a page that stops coming", Reply::Stalled("<p>version@11"),
       std::chrono::milliseconds(300), FetchOutcome::kTimedOut, 13},
  };
  testing::LoopbackHttp server;
  ASSERT_TRUE(server.listening());
  server.Set("/page", {200, "hello"});
  PageFetch fetch;
  for (const auto& c : cases) {
    server.Set("/start", c.reply);
    QSignalSpy finished(&fetch, &PageFetch::Finished);
    std::size_t received = 0;
    fetch.Start(QUrl(QString::fromStdString(server.Url("/start"))), c.limit,
                [&](std::string_view piece) {
                  received += piece.size();
                  return false;
                });
    EXPECT_EQ(finished.count(), 0) << c.name;  // never within Start
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() > 0; }, 10000))
        << c.name;
    EXPECT_EQ(finished.takeFirst().at(0).value<FetchOutcome>(), c.outcome)
        << c.name;
    EXPECT_EQ(received, c.received) << c.name;
  }
}

TEST(PageFetch, ARedirectLoopFailsAfterTheLastRedirectAllowed) {
  testing::LoopbackHttp server;
  ASSERT_TRUE(server.listening());
  server.Set("/loop", {302, "", "Location: /loop\r\n"});
  PageFetch fetch;
  QSignalSpy finished(&fetch, &PageFetch::Finished);
  fetch.Start(QUrl(QString::fromStdString(server.Url("/loop"))),
              std::chrono::seconds(5), [](std::string_view) { return false; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() > 0; }, 10000));
  EXPECT_EQ(finished.takeFirst().at(0).value<FetchOutcome>(),
            FetchOutcome::kFailed);
  EXPECT_EQ(server.requests(), 1 + kMaxRedirects);
}

}  // namespace
}  // namespace ferrybox
