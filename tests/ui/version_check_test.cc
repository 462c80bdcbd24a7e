#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/ui/form1_fixture.h"
#include "tests/ui/loopback_http_server.h"
#include "ui/form9.h"

namespace ferrybox {
namespace {

using std::chrono::milliseconds;
using Texts = std::vector<std::string>;

const char kChecking[] = "Checking for new version";
const char kNewVersion[] = "New version to download";
const char kUpToDate[] = "Already at highest version";

class VersionCheckTest : public Form1Fixture {
 protected:
  void SetUp() override {
    Form1Fixture::SetUp();
    ASSERT_TRUE(server_.Start());
    Child<QTimer>("Timer3")->stop();  // ticks come from the tests only
    form().VersionText = "1.1.28";
    form().SetUpdateSite(server_.Site());
    form().SetVersionCheckTiming(milliseconds(10000), milliseconds(0));
    form().SetUrlOpener([this](const std::string& address) {
      opened_.push_back(address);
      return true;
    });
    // A shown notice gets answer_, "No, Continue" unless a test says
    // otherwise, so a notice that should not open never hangs a test.
    QObject::connect(&answerer_, &QTimer::timeout, [this] {
      if (form().notice() == nullptr || !form().notice()->isVisible()) return;
      ++notices_shown_;
      answer_();
    });
    answerer_.start(5);
  }

  void Click(const char* button) {
    QTest::mouseClick(form().notice()->findChild<QPushButton*>(button),
                      Qt::LeftButton);
  }
  void ServeVersion(const QByteArray& page) {
    server_.ServePage("/version.htm", page);
  }
  Texts Messages() {
    Texts lines;
    for (int i = 0; i < Lines("List3")->Count(); ++i)
      lines.push_back(Lines("List3")->Line(i).toStdString());
    return lines;
  }

  LoopbackHttpServer server_;
  Texts opened_;
  QTimer answerer_;
  std::function<void()> answer_ = [this] { Click("Command2"); };
  int notices_shown_ = 0;
};

TEST_F(VersionCheckTest, ANewerVersionIsAnnouncedAndOffered) {
  ServeVersion("<html><body>Latest: version@1129</body></html>");
  Texts while_waiting;
  answer_ = [&] {
    while_waiting = Messages();
    Click("Command2");
  };
  form().CheckNewVersion(server_.Url("/version.htm"));
  EXPECT_EQ(while_waiting, (Texts{kChecking, kNewVersion}));
  EXPECT_EQ(Messages(), (Texts{kChecking, kNewVersion}));
  EXPECT_EQ(notices_shown_, 1);
  EXPECT_FALSE(form().notice()->isVisible());
  EXPECT_FALSE(form().DownloadWanted);
  EXPECT_TRUE(opened_.empty());
}

TEST_F(VersionCheckTest, YesDownloadOpensTheDownloadPageOnce) {
  ServeVersion("version@2000");
  answer_ = [this] { Click("Command1"); };
  form().CheckNewVersion(server_.Url("/version.htm"));
  EXPECT_TRUE(form().DownloadWanted);
  EXPECT_FALSE(form().notice()->isVisible());
  EXPECT_EQ(opened_,
            (Texts{server_.Site() + "/downloadpage_incrementalbackup.php"}));
}

TEST_F(VersionCheckTest, AVersionThatIsNotNewerSaysSoWithoutANotice) {
  for (const char* page :
       {"version@1128", "<p>version@0999</p>", "version@abc",
        "end of page version@", "version@12", "version@1128 version@9999"}) {
    form().ClearList(ListBox::kList3);
    ServeVersion(page);
    form().CheckNewVersion(server_.Url("/version.htm"));
    EXPECT_EQ(Messages(), (Texts{kChecking, kUpToDate})) << page;
  }
  EXPECT_EQ(form().notice(), nullptr);
}

TEST_F(VersionCheckTest, AFailedCheckEndsAfterItsFirstLine) {
  server_.ServePage("/plain.htm", "<html>no marker, Version@9999</html>");
  server_.Serve("/error.htm", HttpAnswer(500, "version@9999"));
  server_.Serve("/silent.htm", HttpAnswer::Silent());
  LoopbackHttpServer closed;
  ASSERT_TRUE(closed.Start());
  closed.Stop();

  form().SetVersionCheckTiming(milliseconds(300), milliseconds(0));
  for (const std::string& url :
       {server_.Url("/plain.htm"), server_.Url("/error.htm"),
        server_.Url("/silent.htm"), closed.Url("/version.htm")}) {
    form().ClearList(ListBox::kList3);
    form().CheckNewVersion(url);
    EXPECT_EQ(Messages(), (Texts{kChecking})) << url;
  }
  EXPECT_EQ(form().notice(), nullptr);
}

TEST_F(VersionCheckTest, TheThirdTickStartsTheOnlyCheck) {
  ServeVersion("version@1128");
  form().Timer3_Timer();
  form().Timer3_Timer();
  EXPECT_TRUE(Messages().empty());
  EXPECT_FALSE(form().VersionChecked);

  form().Timer3_Timer();
  EXPECT_TRUE(form().VersionChecked);
  EXPECT_EQ(Messages(), (Texts{kChecking, kUpToDate}));

  // The counter wraps at 1000 and passes 3 again: no second check.
  while (form().UpdateTicks != 999) form().Timer3_Timer();
  form().Timer3_Timer();
  EXPECT_EQ(form().UpdateTicks, 0);
  for (int tick = 1; tick <= 1005; ++tick) form().Timer3_Timer();
  EXPECT_EQ(form().UpdateTicks, 5);
  EXPECT_EQ(server_.Requests("/version.htm"), 1);
  EXPECT_EQ(Messages().size(), 2u);
}

TEST_F(VersionCheckTest, TicksDuringTheCheckNeverStartASecond) {
  server_.Serve("/version.htm", HttpAnswer::Silent());
  form().SetVersionCheckTiming(milliseconds(300), milliseconds(0));
  // Runs while the page loads, since the window keeps handling events:
  // rounds the counter back to 3.
  bool ran = false;
  QTimer::singleShot(0, [&] {
    for (int i = 0; i < 1000; ++i) form().Timer3_Timer();
    ran = true;
  });
  for (int tick = 1; tick <= 3; ++tick) form().Timer3_Timer();
  EXPECT_TRUE(ran);
  EXPECT_EQ(form().UpdateTicks, 3);
  EXPECT_EQ(server_.Requests("/version.htm"), 1);
  EXPECT_EQ(Messages(), (Texts{kChecking}));
}

TEST_F(VersionCheckTest, Timer3DrivesTheCheckAgainstTheMakersSite) {
  ServeVersion("version@1128");
  form().SetUpdateSite(server_.Site() + "/");  // no doubled separator
  Child<QTimer>("Timer3")->start(1);
  QElapsedTimer clock;
  clock.start();
  while (Messages().size() < 2 && clock.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(Messages(), (Texts{kChecking, kUpToDate}));
  EXPECT_EQ(server_.Requests("/version.htm"), 1);
}

TEST_F(VersionCheckTest, ClosingTheMainWindowEndsAWaitingCheck) {
  ServeVersion("version@2000");
  answer_ = [this] { form().close(); };
  bool returned = false;
  // Inside the application's own loop, as the program runs every handler.
  QTimer::singleShot(0, [&] {
    form().CheckNewVersion(server_.Url("/version.htm"));
    returned = true;
    QCoreApplication::exit(0);
  });
  QCoreApplication::exec();
  EXPECT_TRUE(returned);
  EXPECT_EQ(notices_shown_, 1);
  EXPECT_FALSE(form().DownloadWanted);
  EXPECT_TRUE(opened_.empty());
}

}  // namespace
}  // namespace ferrybox
