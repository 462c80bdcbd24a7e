#include "update/page_fetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/ui/loopback_http_server.h"

namespace ferrybox {
namespace {

class PageFetchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  // Keeps what arrives in page_; wants no more once it holds "enough". The
  // limit is far longer than any of these fetches takes when it works.
  FetchOutcome Fetch(const std::string& path) {
    page_.clear();
    return FetchPage(QUrl(QString::fromStdString(server_.Url(path))),
                     std::chrono::seconds(20), [this](std::string_view piece) {
                       page_.append(piece);
                       return page_.find("enough") != std::string::npos;
                     });
  }

  LoopbackHttpServer server_;
  std::string page_;
};

TEST_F(PageFetchTest, FollowsRedirectsButNotEndlessly) {
  server_.Serve("/old.htm", "", 301, "Location: /new.htm\r\n");
  server_.Serve("/new.htm", "moved here");
  EXPECT_EQ(Fetch("/old.htm"), FetchOutcome::kLoaded);
  EXPECT_EQ(page_, "moved here");
  // An endless chase would end at the time limit instead.
  server_.Serve("/loop.htm", "version@9999", 302, "Location: /loop.htm\r\n");
  EXPECT_EQ(Fetch("/loop.htm"), FetchOutcome::kFailed);
  EXPECT_EQ(page_, "");
}

TEST_F(PageFetchTest, EndsAPageThatNeverEndsOnceEnoughHasArrived) {
  server_.ServeUnfinished("/short.htm", "that is enough");
  EXPECT_EQ(Fetch("/short.htm"), FetchOutcome::kLoaded);
  EXPECT_EQ(page_, "that is enough");
  server_.ServeUnfinished("/long.htm", QByteArray(kPageByteLimit + 1000, 'x'));
  EXPECT_EQ(Fetch("/long.htm"), FetchOutcome::kLoaded);
  EXPECT_EQ(page_, std::string(kPageByteLimit, 'x'));
}

}  // namespace
}  // namespace ferrybox
