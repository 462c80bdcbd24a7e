// The window stays alive during a run: it paints and serves timers while the
// source is scanned (typing waits for the copying), and during the copying
// "Stop" or closing the window acts within about a second, also in the
// middle of one big file. The run is slowed through its platform.
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "engine/copy_log.h"
#include "engine/temp_name.h"
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
  int Count(const char* list, const std::string& prefix) {
    int count = 0;
    for (int i = 0; i < Lines(list)->Count(); ++i)
      count += Lines(list)->Line(i).startsWith(QString::fromStdString(prefix));
    return count;
  }
  std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      names.insert(entry.path().filename().string());
    return names;
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

// Runs `act` by a timer 300 ms into the run. Returns the milliseconds from
// then until the run stopped working on files: until its closing flush
// began (which waits for the disk, however busy), or until it returned;
// -1 when the timer had not fired by then.
class Form1StopsInTime : public Form1Alive {
 protected:
  qint64 GoAndAct(std::function<void()> act) {
    QElapsedTimer clock;
    qint64 acted_at = -1;
    qint64 flush_at = -1;
    const auto slowed = platform_.before_call;
    platform_.before_call = [&](Kind kind, const std::string& name) {
      if (kind == Kind::kFlush && flush_at < 0) flush_at = clock.elapsed();
      if (slowed) slowed(kind, name);
    };
    QTimer::singleShot(300, &form(), [&] {
      acted_at = clock.elapsed();
      act();
    });
    clock.start();
    Go();
    platform_.before_call = slowed;
    if (acted_at < 0) return -1;
    return (flush_at < 0 ? clock.elapsed() : flush_at) - acted_at;
  }
};

TEST_F(Form1StopsInTime, StopOrCloseDuringABigFileKeepsItsEarlierCopy) {
  // 16 MiB in chunks of 64 KiB, 20 ms each: over five seconds to copy.
  constexpr int kChunks = 256;
  tree_.Write("src/big", std::string(16 << 20, 'n'));
  tree_.Write("dst/big", "earlier copy");
  platform_.chunk_limit = 64 << 10;
  int chunks = 0;
  platform_.before_call = [&chunks](Kind kind, const std::string& name) {
    if (kind != Kind::kWrite || !IsTempName(name)) return;
    ++chunks;
    std::this_thread::sleep_for(milliseconds(20));
  };
  // Closing ends the program: last.
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "closed" : "stopped");
    chunks = 0;
    const qint64 after = GoAndAct([&] {
      close ? (void)form().close()
            : QTest::mouseClick(Button("Command2"), Qt::LeftButton);
    });
    EXPECT_GE(after, 0) << "the timer never fired during the run";
    EXPECT_LT(after, 1000);
    EXPECT_LT(chunks, kChunks);
    EXPECT_EQ(testing::ReadFile(tree_.Path("dst/big")), "earlier copy");
    EXPECT_EQ(Names(tree_.Path("dst")), std::set<std::string>{"big"});
    EXPECT_EQ(Count("List3", kCopyErrorPrefix), 0);
    EXPECT_EQ(Edit("Text4")->text(), "0");
    const QString last = Lines("List3")->Line(Lines("List3")->Count() - 1);
    EXPECT_EQ(last.startsWith("Finished....in :"), !close);
  }
}

TEST_F(Form1StopsInTime, StopActsBetweenTheProgressUpdates) {
  for (int i = 0; i < 80; ++i) tree_.Write("src/f" + std::to_string(i), "x");
  Go();
  // Incremental and unchanged: nothing is copied, and each file takes 20 ms
  // to look up in the source and 20 in the destination, over three seconds
  // in all, with no update after file 101 to wait for.
  Check("Check3")->setChecked(true);
  platform_.before_call = [](Kind kind, const std::string& name) {
    if (kind == Kind::kStat && name.starts_with("f"))
      std::this_thread::sleep_for(milliseconds(20));
  };
  const qint64 after = GoAndAct(
      [this] { QTest::mouseClick(Button("Command2"), Qt::LeftButton); });
  EXPECT_GE(after, 0) << "the timer never fired during the run";
  EXPECT_LT(after, 1000);
  EXPECT_TRUE(form().run().LastOutcome().stopped);
  EXPECT_LT(form().run().LastOutcome().files_handled, 80);
}

}  // namespace
}  // namespace ferrybox
