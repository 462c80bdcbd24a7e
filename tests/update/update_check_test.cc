// SPDX-License-Identifier: GPL-3.0-or-later
// The update check below the window: version numbers, the version marker,
// the fetch rules, and the page fetch and check against a loopback server.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/loopback_http.h"
#include "update/fetch_rules.h"
#include "update/page_fetch.h"
#include "update/update_checker.h"
#include "update/version_marker.h"
#include "update/version_number.h"

namespace ferrybox {
namespace {

TEST(LeadingNumber, ReadsDigitsFromTheStartSkippingBlanks) {
  const std::pair<std::int64_t, std::vector<const char*>> cases[] = {
      {1129, {"1129", "1 1\t2\r\n9"}},  // blanks anywhere are skipped
      {999, {"0999"}},
      {112, {" 112"}},
      {12, {"12", "12ab"}},
      {1, {"1.29"}},
      {0, {"-5", "abc", "", "  "}},
      {std::numeric_limits<std::int64_t>::max(), {"99999999999999999999"}}};
  for (const auto& [number, texts] : cases)
    for (const char* text : texts)
      EXPECT_EQ(LeadingNumber(text), number) << text;
}

TEST(OwnVersionNumber, IsTheVersionTextWithoutItsDots) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"1.1.28", 1128}, {"1.1.9", 119}, {"2.0.0", 200},
      {"1.10.0", 1100}, {"", 0},        {"1.1.28 beta", 1128},
  };
  for (const auto& [text, number] : cases)
    EXPECT_EQ(OwnVersionNumber(text), number) << text;
}

VersionVerdict JudgeWholePage(std::string_view page,
                              std::string_view version_text) {
  VersionMarkerScanner scanner;
  scanner.Feed(page);
  return JudgeVersion(scanner, version_text);
}

TEST(JudgeVersion, OnlyAGreaterPublishedNumberIsNewer) {
  // Pages judged against 1.1.28 (1128). Only four characters count, a blank
  // among them; text that is no number reads as 0, a short tail as what it
  // holds; only the first marker counts, and only in its exact case.
  const std::pair<VersionVerdict, std::vector<const char*>> cases[] = {
      {VersionVerdict::kNewer, {"<p>Latest: version@1129</p>", "version@9999"}},
      {VersionVerdict::kNotNewer,
       {"version@1128", "version@1127", "<p>version@0999</p>", "version@11280",
        "version@ 1129", "version@abc", "end of page version@", "version@12",
        "version@1128 version@9999"}},
      {VersionVerdict::kNoMarker,
       {"Version@9999 VERSION@9999", "versio@9999", ""}}};
  for (const auto& [verdict, pages] : cases)
    for (const char* page : pages)
      EXPECT_EQ(JudgeWholePage(page, "1.1.28"), verdict) << page;
  // The own version read without its dots: 120 against 119, 1129 against
  // 120, 12 against 11.
  EXPECT_EQ(JudgeWholePage("version@0120", "1.1.9"), VersionVerdict::kNewer);
  EXPECT_EQ(JudgeWholePage("version@1129", "1.2.0"), VersionVerdict::kNewer);
  EXPECT_EQ(JudgeWholePage("version@12", "0.0.11"), VersionVerdict::kNewer);
}

TEST(VersionMarkerScanner, FindsTheFirstMarkerWhereverThePiecesSplitIt) {
  const std::string page = "<html>versionversion@1129 version@0001";
  for (std::size_t size = 1; size <= page.size(); ++size) {
    VersionMarkerScanner scanner;
    for (std::size_t at = 0; at < page.size(); at += size)
      scanner.Feed(std::string_view(page).substr(at, size));
    EXPECT_EQ(scanner.PublishedText(), "1129") << size;
    EXPECT_EQ(JudgeVersion(scanner, "1.1.28"), VersionVerdict::kNewer) << size;
  }
  // It asks for no more only once four characters follow the marker.
  VersionMarkerScanner scanner;
  EXPECT_FALSE(scanner.Feed(std::string(100000, 'v') + "ersion@11"));
  EXPECT_TRUE(scanner.Feed("29 and more"));
  EXPECT_EQ(scanner.PublishedText(), "1129");
}

using Reply = testing::LoopbackHttp::Reply;

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

TEST(UpdateChecker, NeverJudgesAPageThatStoppedComing) {
  // "version@1129" cut short would read as an older version.
  testing::LoopbackHttp server;
  ASSERT_TRUE(server.listening());
  server.Set("/version.htm", Reply::Stalled("<p>version@11"));
  UpdateChecker checker;
  checker.SetTiming(std::chrono::milliseconds(300), {});
  QSignalSpy verdicts(&checker, &UpdateChecker::Finished);
  checker.Start(server.Url("/version.htm"), "1.1.28");
  ASSERT_TRUE(QTest::qWaitFor([&] { return verdicts.count() > 0; }, 10000));
  EXPECT_EQ(verdicts.at(0).at(0).value<VersionVerdict>(),
            VersionVerdict::kNoMarker);
}

}  // namespace
}  // namespace ferrybox
