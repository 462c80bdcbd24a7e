#include <gtest/gtest.h>

#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include "tests/ui/form1_fixture.h"
#include "ui/form9.h"
#include "update/version_marker.h"

namespace ferrybox {
namespace {

using Texts = std::vector<std::string>;
const Texts kFailed = {"Checking for new version"};
const Texts kUpToDate = {kFailed[0], "Already at highest version"};

class VersionCheckTest : public Form1Fixture {
 protected:
  void SetUp() override {
    Form1Fixture::SetUp();
    // The update site: an HTTP server on 127.0.0.1, served by this thread.
    ASSERT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setParent(&server_);
        QObject::connect(socket, &QTcpSocket::readyRead,
                         [this, socket] { Answer(socket); });
      }
    });
    Child<QTimer>("Timer3")->stop();  // ticks come from the tests only
    form().VersionText = "1.1.28";
    form().SetUpdateSite(Site() + "/");  // no doubled separator
    form().SetVersionCheckTiming(std::chrono::seconds(10), {});
    form().SetUrlOpener([this](const std::string& address) {
      opened_.push_back(address);
      return true;
    });
  }
  std::string Site() const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort());
  }
  /// Once the whole "GET /path ..." is in, answers the version page with
  /// `page_` and `status_` (0: never).
  void Answer(QTcpSocket* socket) {
    if (!socket->peek(1 << 16).contains("\r\n\r\n") || status_ == 0) return;
    const bool known = socket->readAll().split(' ').value(1) == "/version.htm";
    const QByteArray body = known ? page_ : "not here";
    socket->write("HTTP/1.1 " + QByteArray::number(known ? status_ : 404) +
                  " Status\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
  }
  /// The lines a check leaves in List3 when the version page is `page`.
  Texts CheckPage(const QByteArray& page, int status = 200) {
    page_ = page;
    status_ = status;
    form().ClearList(ListBox::kList3);
    form().CheckNewVersion(Site() + "/version.htm");
    return Messages();
  }
  Texts Messages() {
    Texts lines;
    for (int i = 0; i < Lines("List3")->Count(); ++i)
      lines.push_back(Lines("List3")->Line(i).toStdString());
    return lines;
  }

  QTcpServer server_;
  QByteArray page_;
  int status_ = 200;
  Texts opened_;
};

TEST_F(VersionCheckTest, ANewerVersionIsAnnouncedAndOnlyYesOpensItsPage) {
  const std::pair<const char*, Texts> answers[] = {
      {"Command2", {}},
      {"Command1", {Site() + "/downloadpage_incrementalbackup.php"}}};
  for (const auto& [button, opened] : answers) {
    opened_.clear();
    QTimer answerer;  // answers the notice once it shows
    QObject::connect(&answerer, &QTimer::timeout, [&, button] {
      if (form().notice() != nullptr && form().notice()->isVisible())
        form().notice()->findChild<QPushButton*>(button)->click();
    });
    answerer.start(5);
    EXPECT_EQ(CheckPage("<p>Latest: version@1129</p>"),
              (Texts{kFailed[0], "New version to download"}));
    EXPECT_EQ(opened_, opened) << button;
  }
}

TEST_F(VersionCheckTest, WithoutANewerVersionNoNoticeOpens) {
  const std::pair<QByteArray, Texts> pages[] = {
      {"version@1128", kUpToDate}, {"<p>version@0999</p>", kUpToDate},
      {"version@abc", kUpToDate},  {"end of page version@", kUpToDate},
      {"version@12", kUpToDate},   {"no marker, Version@9999", kFailed}};
  for (const auto& [page, lines] : pages)
    EXPECT_EQ(CheckPage(page), lines) << page.toStdString();
  EXPECT_EQ(CheckPage("version@9999", 500), kFailed);
  form().SetVersionCheckTiming(std::chrono::milliseconds(300), {});
  EXPECT_EQ(CheckPage("version@9999", 0), kFailed);          // never answered
  form().CheckNewVersion("http://127.0.0.1:9/version.htm");  // closed port
  EXPECT_EQ(Messages(), (Texts{kFailed[0], kFailed[0]}));
  EXPECT_EQ(form().notice(), nullptr);
}

TEST_F(VersionCheckTest, TheThirdTickStartsTheOnlyCheck) {
  page_ = "version@1128";
  for (int i = 0; i < 2; ++i) form().Timer3_Timer();
  EXPECT_TRUE(Messages().empty());
  form().Timer3_Timer();
  EXPECT_EQ(Messages(), kUpToDate);
  for (int i = 0; i < 1997; ++i) form().Timer3_Timer();  // to 3, then 0
  EXPECT_EQ(Messages(), kUpToDate);
  form().VersionChecked = false;  // Timer3 itself gives the ticks
  Child<QTimer>("Timer3")->start(1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Messages().size() == 4; }, 10000));
}

TEST_F(VersionCheckTest, TheNoticeOpensByTheMainWindowWithNoContinueFocused) {
  form().move(300, 200);
  form().show();
  auto* notice = new Form9(form());  // owned by the main window
  notice->ShowNotice();
  EXPECT_EQ(notice->size(), QSize(375, 94));
  // Half the main window's outer size less its own, wherever that window is.
  const QSize room = form().frameGeometry().size() - notice->frameSize();
  EXPECT_EQ(notice->frameGeometry().topLeft(),
            QPoint(room.width() / 2, room.height() / 2));
  EXPECT_EQ(notice->findChild<QPushButton*>("Command1")->geometry(),
            QRect(80, 56, 101, 29));
  EXPECT_EQ(notice->focusWidget(), notice->findChild<QPushButton*>("Command2"));
  // Closing it through its title bar answers "No, Continue".
  form().DownloadWanted = true;
  EXPECT_TRUE(notice->close());
  EXPECT_TRUE(notice->Answered && !form().DownloadWanted);
}

TEST(VersionMarkerScanner, FindsTheFirstMarkerWhereverThePiecesSplitIt) {
  const std::string page = "<html>versionversion@ 1129 version@9999";
  for (std::size_t size = 1; size <= page.size(); ++size) {
    VersionMarkerScanner scanner;
    for (std::size_t at = 0; at < page.size(); at += size)
      scanner.Feed(std::string_view(page).substr(at, size));
    // The blank is one of the four characters: 112 is older.
    EXPECT_EQ(JudgeVersion(scanner, "1.1.28"), VersionVerdict::kNotNewer);
  }
  // It asks for no more only once four characters follow the marker.
  VersionMarkerScanner scanner;
  EXPECT_FALSE(scanner.Feed(std::string(100000, 'v') + "ersion@11"));
  EXPECT_TRUE(scanner.Feed("29 and more"));
}

}  // namespace
}  // namespace ferrybox
