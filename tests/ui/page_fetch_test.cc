#include "update/page_fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/ui/loopback_http_server.h"

namespace ferrybox {
namespace {

// Far longer than any of these fetches may take when it works.
constexpr std::chrono::milliseconds kPatient{20000};

class PageFetchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  // Keeps what arrives in page_; wants no more once it holds "enough".
  FetchOutcome Fetch(const std::string& url,
                     std::size_t byte_limit = kPageByteLimit) {
    page_.clear();
    return FetchPage(
        QUrl(QString::fromStdString(url)), kPatient,
        [this](std::string_view piece) {
          page_.append(piece);
          return page_.find("enough") != std::string::npos;
        },
        byte_limit);
  }

  LoopbackHttpServer server_;
  std::string page_;
};

TEST_F(PageFetchTest, FollowsRedirectsButNotEndlessly) {
  server_.Serve("/old.htm", HttpAnswer(301, "", "Location: /new.htm\r\n"));
  server_.ServePage("/new.htm", "moved here");
  EXPECT_EQ(Fetch(server_.Url("/old.htm")), FetchOutcome::kLoaded);
  EXPECT_EQ(page_, "moved here");

  server_.Serve("/loop.htm",
                HttpAnswer(302, "version@9999", "Location: /loop.htm\r\n"));
  // An endless chase would end at the time limit instead.
  EXPECT_EQ(Fetch(server_.Url("/loop.htm")), FetchOutcome::kFailed);
  EXPECT_EQ(page_, "");
}

TEST_F(PageFetchTest, AFailedTlsHandshakeFailsAtOnce) {
  // Plain HTTP where the client expects TLS: a failure, not a time-out.
  server_.GreetWith(
      "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\nversion@9999");
  EXPECT_EQ(Fetch(server_.Site("https") + "/version.htm"),
            FetchOutcome::kFailed);
  EXPECT_EQ(page_, "");
}

TEST_F(PageFetchTest, StopsAsSoonAsTheConsumerHasEnough) {
  // The rest of the announced page never comes: only a fetch that stops
  // early ends before its limit.
  server_.Serve("/version.htm", HttpAnswer::Unfinished("that is enough"));
  EXPECT_EQ(Fetch(server_.Url("/version.htm")), FetchOutcome::kLoaded);
  EXPECT_EQ(page_, "that is enough");
}

TEST_F(PageFetchTest, ReadsNoMoreThanTheByteLimit) {
  server_.ServePage("/big.htm", QByteArray(3 << 20, 'x'));
  EXPECT_EQ(Fetch(server_.Url("/big.htm"), 1 << 20), FetchOutcome::kLoaded);
  EXPECT_EQ(page_.size(), std::size_t{1} << 20);

  server_.Serve("/endless.htm", HttpAnswer::Unfinished(QByteArray(1000, 'y')));
  EXPECT_EQ(Fetch(server_.Url("/endless.htm"), 1000), FetchOutcome::kLoaded);
  EXPECT_EQ(page_, std::string(1000, 'y'));
}

}  // namespace
}  // namespace ferrybox
