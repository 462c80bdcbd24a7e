#include <gtest/gtest.h>

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
    form().SetUpdateSite(server_.Site() + "/");  // no doubled separator
    form().SetVersionCheckTiming(milliseconds(10000), milliseconds(0));
    form().SetUrlOpener([this](const std::string& address) {
      opened_.push_back(address);
      return true;
    });
    // A shown notice gets answer_, so that a notice that should not open
    // never hangs a test.
    QObject::connect(&answerer_, &QTimer::timeout, [this] {
      if (form().notice() == nullptr || !form().notice()->isVisible()) return;
      while_waiting_ = Messages();
      answer_();
    });
    answerer_.start(5);
  }

  /// Serves `body` at a new address and returns that address.
  std::string Page(const QByteArray& body) {
    const QByteArray path = "/" + QByteArray::number(++pages_) + ".htm";
    server_.Serve(path, body);
    return server_.Url(path.toStdString());
  }
  /// The lines a check of `address` leaves in List3.
  Texts CheckAt(const std::string& address) {
    form().ClearList(ListBox::kList3);
    form().CheckNewVersion(address);
    return Messages();
  }
  Texts Messages() {
    Texts lines;
    for (int i = 0; i < Lines("List3")->Count(); ++i)
      lines.push_back(Lines("List3")->Line(i).toStdString());
    return lines;
  }

  LoopbackHttpServer server_;
  int pages_ = 0;
  Texts opened_;
  Texts while_waiting_;  ///< List3 when the notice was last answered
  QTimer answerer_;
  std::function<void()> answer_ = [this] { form().notice()->close(); };
};

TEST_F(VersionCheckTest, ANewerVersionIsAnnouncedAndOnlyYesOpensItsPage) {
  const std::string address = Page("<p>Latest: version@1129</p>");
  const std::string download =
      server_.Site() + "/downloadpage_incrementalbackup.php";
  // Closing the main window, last, ends the program and with it the wait.
  const std::pair<std::string, Texts> answers[] = {
      {"Command2", {}}, {"Command1", {download}}, {"Form1", {}}};
  for (const auto& [answer, opened] : answers) {
    SCOPED_TRACE(answer);
    opened_.clear();
    while_waiting_.clear();
    answer_ = [this, button = answer] {
      if (button == "Form1") {
        form().close();
      } else {
        form().notice()->findChild<QPushButton*>(button.c_str())->click();
      }
    };
    // Inside the application's own loop, as the program runs every handler.
    QTimer::singleShot(0, [&] {
      CheckAt(address);
      QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    EXPECT_EQ(while_waiting_, (Texts{kChecking, kNewVersion}));
    EXPECT_EQ(opened_, opened);
    if (answer != "Form1") {
      EXPECT_TRUE(form().notice()->isHidden());  // answered
    }
  }
}

TEST_F(VersionCheckTest, WithoutANewerVersionNoNoticeOpens) {
  server_.Serve("/error.htm", "version@9999", 500);
  server_.ServeNothing("/silent.htm");
  LoopbackHttpServer closed;
  ASSERT_TRUE(closed.Start());
  closed.Stop();
  const Texts up_to_date = {kChecking, kUpToDate};
  const Texts failed = {kChecking};
  const std::pair<std::string, Texts> cases[] = {
      {Page("version@1128"), up_to_date},
      {Page("<p>version@0999</p>"), up_to_date},
      {Page("version@abc"), up_to_date},
      {Page("end of page version@"), up_to_date},
      {Page("version@12"), up_to_date},
      {Page("<html>no marker, Version@9999</html>"), failed},
      {server_.Url("/error.htm"), failed},
      {closed.Url("/version.htm"), failed}};
  for (const auto& [address, lines] : cases)
    EXPECT_EQ(CheckAt(address), lines) << address;
  form().SetVersionCheckTiming(milliseconds(300), milliseconds(0));
  EXPECT_EQ(CheckAt(server_.Url("/silent.htm")), failed);
  EXPECT_EQ(form().notice(), nullptr);
}

TEST_F(VersionCheckTest, TheThirdTickStartsTheOnlyCheck) {
  server_.ServeNothing("/version.htm");
  form().SetVersionCheckTiming(milliseconds(300), milliseconds(0));
  form().Timer3_Timer();
  form().Timer3_Timer();
  EXPECT_TRUE(Messages().empty());
  // Ticks go on while the page loads; 1000 bring the count round to 3.
  bool ticked = false;
  QTimer::singleShot(0, [&] {
    for (int i = 0; i < 1000; ++i) form().Timer3_Timer();
    ticked = true;
  });
  form().Timer3_Timer();
  ASSERT_TRUE(ticked);
  EXPECT_EQ(form().UpdateTicks, 3);
  for (int i = 0; i < 1000; ++i) form().Timer3_Timer();
  EXPECT_EQ(Messages(), Texts{kChecking});  // one check only
}

TEST_F(VersionCheckTest, Timer3DrivesTheCheck) {
  server_.Serve("/version.htm", "version@1128");
  Child<QTimer>("Timer3")->start(1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Messages().size() == 2; }, 10000));
  EXPECT_EQ(Messages(), (Texts{kChecking, kUpToDate}));
}

}  // namespace
}  // namespace ferrybox
