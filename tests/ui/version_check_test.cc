// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "tests/support/loopback_http.h"
#include "tests/support/temp_tree.h"
#include "tests/ui/form1_fixture.h"
#include "ui/form9.h"
#include "update/update_checker.h"

namespace ferrybox {
namespace {

using Texts = std::vector<std::string>;
using Reply = testing::LoopbackHttp::Reply;
const Texts kFailed = {"Checking for new version"};
const Texts kUpToDate = {kFailed[0], "Already at highest version"};
const Texts kNewer = {kFailed[0], "New version to download"};
// The longest any wait in these tests may take.
constexpr int kBoundMs = 10000;

class VersionCheckTest : public Form1Fixture {
 protected:
  void SetUp() override {
    Form1Fixture::SetUp();
    ASSERT_TRUE(server_.listening());
    Child<QTimer>("Timer3")->stop();  // ticks come from the tests only
    form().Form_Load();               // the version, 1.1.28
    Form1Seams::SetUpdateSite(form(), server_.Url("/"));  // no doubled "/"
    Child<UpdateChecker>("UpdateChecker")
        ->SetTiming(std::chrono::seconds(5), {});
    Form1Seams::SetUrlOpener(form(), [this](const std::string& address) {
      opened_.push_back(address);
      return true;
    });
    verdicts_ = std::make_unique<QSignalSpy>(
        Child<UpdateChecker>("UpdateChecker"), &UpdateChecker::Finished);
  }
  /// Waits, boundedly, for the check under way to give its verdict.
  bool CheckEnds() {
    const bool ended =
        QTest::qWaitFor([this] { return !verdicts_->isEmpty(); }, kBoundMs);
    verdicts_->clear();
    return ended;
  }
  /// The lines a check leaves in List3 when the version page answers
  /// `reply`, or when it is asked of `url` instead.
  Texts CheckPage(const Reply& reply, std::string url = {}) {
    server_.Set("/version.htm", reply);
    form().ClearList(ListBox::kList3);
    form().CheckNewVersion(url.empty() ? server_.Url("/version.htm") : url);
    EXPECT_TRUE(verdicts_->isEmpty());  // never judged within the call
    EXPECT_TRUE(CheckEnds());
    return Shown("List3");
  }

  testing::LoopbackHttp server_;
  Texts opened_;
  std::unique_ptr<QSignalSpy> verdicts_;
};

TEST_F(VersionCheckTest, ANewerVersionIsAnnouncedAndOnlyYesOpensItsPage) {
  const Texts download = {server_.Url("/downloadpage_incrementalbackup.php")};
  const struct {
    const char* answer;  ///< a button, or "close" for the title bar
    Texts opened;
  } answers[] = {{"Command2", {}}, {"Command1", download}, {"close", {}}};
  for (const auto& a : answers) {
    opened_.clear();
    EXPECT_EQ(CheckPage({200, "<p>Latest: version@1129</p>"}), kNewer);
    Form9* notice = form().findChild<Form9*>("Form9");
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible()) << a.answer;
    QSignalSpy answers(notice, &Form9::AnswerGiven);
    if (a.answer == std::string("close"))
      notice->close();
    else
      notice->findChild<QPushButton*>(a.answer)->click();
    EXPECT_FALSE(notice->isVisible()) << a.answer;
    EXPECT_EQ(answers.count(), 1) << a.answer;
    EXPECT_EQ(opened_, a.opened) << a.answer;
  }
}

TEST_F(VersionCheckTest, WithoutANewerVersionNoNoticeOpens) {
  Child<UpdateChecker>("UpdateChecker")
      ->SetTiming(std::chrono::milliseconds(300), {});
  EXPECT_EQ(CheckPage({200, "<p>version@1128</p>"}), kUpToDate);
  for (const Reply& reply :
       {Reply(200, "no marker, Version@9999"), Reply::Never()})
    EXPECT_EQ(CheckPage(reply), kFailed) << reply.body.data();
  // Nothing listens on the port, whatever the page would have said.
  EXPECT_EQ(CheckPage({200, "version@1129"}, "http://127.0.0.1:9/v"), kFailed);
  EXPECT_EQ(form().findChild<Form9*>("Form9"), nullptr);
}

TEST_F(VersionCheckTest, TheThirdTickStartsTheOnlyCheck) {
  server_.Set("/version.htm", {200, "version@1128"});
  for (int i = 0; i < 2; ++i) form().Timer3_Timer();
  EXPECT_TRUE(Shown("List3").empty());
  // The third tick comes from Timer3 itself.
  Child<QTimer>("Timer3")->start(1);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return !Shown("List3").empty(); }, kBoundMs));
  Child<QTimer>("Timer3")->stop();
  EXPECT_TRUE(CheckEnds());
  EXPECT_EQ(Shown("List3"), kUpToDate);
  // From wherever the count stands, on to 1000, back to 0, and on to 3
  // again: no second check.
  for (int i = 0; i < 1003; ++i) form().Timer3_Timer();
  EXPECT_EQ(Shown("List3"), kUpToDate);
}

TEST_F(VersionCheckTest, ABackupRunIsNotHeldUpByACheckWaitingForItsPage) {
  server_.Set("/version.htm", Reply::Never());
  // Far longer than the run takes, even on a busy machine.
  Child<UpdateChecker>("UpdateChecker")
      ->SetTiming(std::chrono::seconds(15), {});
  testing::TempTree tree;
  // Past the 101st file the run handles events, whatever time has passed.
  for (int i = 0; i < 120; ++i) tree.Write("src/f" + std::to_string(i), "x");
  SetFolders(tree.Path("src"), tree.Path("dst"));
  for (int i = 0; i < 2; ++i) form().Timer3_Timer();
  // The third tick comes while the run handles events.
  QTimer::singleShot(0, &form(), [this] { form().Timer3_Timer(); });
  Go();
  // The run has ended while the check still waits for its page.
  EXPECT_TRUE(verdicts_->isEmpty());
  const Texts lines = Shown("List3");
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().starts_with("Finished....in :")) << lines.back();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kFailed[0]), 1);
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
}

}  // namespace
}  // namespace ferrybox
