// The window stays alive during a run: it paints and serves timers while the
// source is scanned (typing waits for the copying). The run is slowed
// through its platform.
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>

#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"
#include "tests/ui/form1_fixture.h"

namespace ferrybox {
namespace {

using Kind = testing::FaultyPlatform::Kind;
using std::chrono::milliseconds;

// A wait for the program to do what it should; a fault fails the test here.
constexpr int kBoundMs = 3000;

// Remembers, for each paint of a watched control, what it showed.
class PaintLog : public QObject {
 public:
  explicit PaintLog(std::function<QString()> shown)
      : shown_(std::move(shown)) {}
  std::vector<QString> painted;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted.push_back(shown_());
    return false;
  }

 private:
  std::function<QString()> shown_;
};

class Form1Alive : public Form1Fixture {
 protected:
  void SetUp() override {
    Form1Fixture::SetUp();
    form().SetPlatformForTesting(platform_);
    Edit("Text1")->setText(QString::fromStdString(tree_.Path("src")));
    Edit("Text2")->setText(QString::fromStdString(tree_.Path("dst")));
    form().show();
    form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form(), kBoundMs));
  }
  // "Go", as clicked; returns when the run does.
  void Go() {
    Button("Command3")->click();
    form().FlushDisplay();
  }

  testing::TempTree tree_;
  testing::FaultyPlatform platform_;
};

TEST_F(Form1Alive, TheScanPaintsPleaseWaitAndServesTimersButTypingWaits) {
  tree_.Write("src/a", "x");
  for (int i = 0; i < 4; ++i)
    tree_.Write("src/d" + std::to_string(i) + "/f", "x");
  Go();  // a first run leaves its figures and lines on show
  ASSERT_EQ(Edit("Text3")->text(), "5");
  ASSERT_EQ(Lines("List1")->Count(), 5);

  PaintLog text3([this] { return Edit("Text3")->text(); });
  PaintLog list1([this] { return QString::number(Lines("List1")->Count()); });
  PaintLog list3(
      [this] { return Lines("List3")->Line(Lines("List3")->Count() - 1); });
  Edit("Text3")->installEventFilter(&text3);
  Lines("List1")->viewport()->installEventFilter(&list1);
  Lines("List3")->viewport()->installEventFilter(&list3);
  int ticks = 0;
  QTimer timer;
  timer.setInterval(20);
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start();
  QLineEdit* typed = Edit("Text7");
  typed->setFocus();

  // What has been painted, looked at as each folder is about to be listed:
  // all of it lies inside the scan.
  struct Seen {
    bool zero_painted, list1_emptied, please_wait_painted;
    int ticks;
    QString typed;
  };
  std::vector<Seen> seen;
  const auto painted = [](const PaintLog& log, const QString& text) {
    return std::find(log.painted.begin(), log.painted.end(), text) !=
           log.painted.end();
  };
  platform_.before_call = [&](Kind kind, const std::string&) {
    // Listings of the scan only: the copying fills List1.
    if (kind != Kind::kList || Lines("List1")->Count() != 0) return;
    if (seen.empty()) {
      // A key pressed as the scan begins, queued as the desktop queues it.
      QWindowSystemInterface::handleKeyEvent<
          QWindowSystemInterface::AsynchronousDelivery>(
          form().windowHandle(), QEvent::KeyPress, Qt::Key_A, Qt::NoModifier,
          "a");
    }
    seen.push_back({painted(text3, "0"), painted(list1, "0"),
                    painted(list3, "Please wait..."), ticks, typed->text()});
    std::this_thread::sleep_for(milliseconds(150));
  };
  Go();
  ASSERT_EQ(seen.size(), 5u);  // the source and its four folders
  const Seen& last = seen.back();
  EXPECT_TRUE(last.zero_painted);
  EXPECT_TRUE(last.list1_emptied);
  EXPECT_TRUE(last.please_wait_painted);
  EXPECT_GE(last.ticks, 3) << "a timer fires at every keep-alive";
  for (const Seen& at : seen) EXPECT_EQ(at.typed, "");
  // The key is handled once the run takes user input again.
  EXPECT_TRUE(QTest::qWaitFor([&] { return typed->text() == "a"; }, kBoundMs));
}

}  // namespace
}  // namespace ferrybox
