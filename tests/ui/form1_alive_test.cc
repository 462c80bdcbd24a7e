// SPDX-License-Identifier: GPL-3.0-or-later
// The window stays alive during a run: it paints and serves timers while the
// source is scanned (typing waits for the copying; "Stop" and closing the
// window do not), and during the copying "Stop", "Pause Copying" or closing
// the window acts within about a second, also in the middle of one big
// file. The run is slowed through its platform.
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>

#include <QAccessible>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "engine/copy_log.h"
#include "platform/temp_name.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"
#include "tests/ui/form1_fixture.h"

namespace ferrybox {
namespace {

using Kind = testing::FaultyPlatform::Kind;
using std::chrono::milliseconds;

// A wait for the program to do what it should; a fault fails the test here.
constexpr int kBoundMs = 3000;

// Remembers, for each paint of `watched`, what it showed.
class PaintLog : public QObject {
 public:
  PaintLog(QObject* watched, std::function<QString()> shown)
      : shown_(std::move(shown)) {
    watched->installEventFilter(this);
  }
  bool Painted(const QString& text) const {
    return std::ranges::count(painted, text) > 0;
  }
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
    SetFolders(tree_.Path("src"), tree_.Path("dst"));
    form().show();
    form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form(), kBoundMs));
  }
  Platform& RunPlatform() override { return platform_; }

  testing::TempTree tree_;
  testing::FaultyPlatform platform_;
};

TEST_F(Form1Alive, ASlowScanPaintsAndServesTimersButTypingWaits) {
  tree_.Write("src/a", "x");
  for (int i = 0; i < 200; ++i)
    tree_.Write("src/big/f" + std::to_string(i), "");
  Go();  // a first run leaves its figures and lines on show
  ASSERT_EQ(Edit("Text3")->text(), "201");
  ASSERT_GT(Lines("List1")->Count(), 0);

  PaintLog text3(Edit("Text3"), [this] { return Edit("Text3")->text(); });
  PaintLog list1(Lines("List1")->viewport(),
                 [this] { return QString::number(Lines("List1")->Count()); });
  PaintLog list3(Lines("List3")->viewport(),
                 [this] { return QString::fromStdString(LastLine("List3")); });
  QLineEdit* typed = Edit("Text7");
  PaintLog text7(typed, [typed] { return typed->text(); });
  int ticks = 0;
  QTimer timer;
  timer.callOnTimeout([&ticks] { ++ticks; });
  timer.start(20);
  typed->setFocus();

  // Every entry must be looked up, and each lookup of the scan takes 3 ms:
  // over half a second inside one folder. Each asks for a paint, as the
  // desktop asks a window to paint what it uncovers.
  platform_.hide_entry_types = true;
  const auto main_thread = std::this_thread::get_id();
  int lookups = 0;
  bool zero_painted = false, list1_emptied = false, please_wait_painted = false;
  size_t paints = 0;
  QString typed_during_scan;
  platform_.before_call = [&](Kind kind, const std::string&) {
    // The scan's lookups only: the copying fills List1.
    if (kind != Kind::kStat || std::this_thread::get_id() != main_thread ||
        Lines("List1")->Count() != 0)
      return;
    if (lookups++ == 0) {
      // A key pressed as the scan begins, queued as the desktop queues it.
      QWindowSystemInterface::handleKeyEvent<
          QWindowSystemInterface::AsynchronousDelivery>(
          form().windowHandle(), QEvent::KeyPress, Qt::Key_A, Qt::NoModifier,
          "a");
      text7.painted.clear();
    }
    zero_painted = text3.Painted("0");
    list1_emptied = list1.Painted("0");
    please_wait_painted = list3.Painted("Please wait...");
    paints = text7.painted.size();
    typed_during_scan += typed->text();
    typed->update();
    std::this_thread::sleep_for(milliseconds(3));
  };
  Go();
  EXPECT_GE(lookups, 202);
  EXPECT_TRUE(zero_painted);
  EXPECT_TRUE(list1_emptied);
  EXPECT_TRUE(please_wait_painted);
  // At least every 100 ms and a lookup.
  EXPECT_GE(paints, 3u);
  EXPECT_GE(ticks, 3);
  EXPECT_EQ(typed_during_scan, "");
  // The key is handled once the run takes user input again.
  EXPECT_TRUE(QTest::qWaitFor([&] { return typed->text() == "a"; }, kBoundMs));
}

// Runs `act` by a timer 300 ms into the run, and expects the run to stop
// working on files within a second of the last Acted() (by then): to begin
// its closing flush (which waits for the disk, however busy) or to return.
class Form1StopsInTime : public Form1Alive {
 protected:
  void GoAndActInTime(std::function<void()> act) {
    acted_at_ = -1;
    qint64 flush_at = -1;
    const auto slowed = platform_.before_call;
    platform_.before_call = [&](Kind kind, const std::string& name) {
      if (kind == Kind::kFlush && flush_at < 0) flush_at = clock_.elapsed();
      if (slowed) slowed(kind, name);
    };
    QTimer::singleShot(300, &form(), [&] {
      Acted();
      act();
    });
    clock_.start();
    Go();
    platform_.before_call = slowed;
    EXPECT_GE(acted_at_, 0) << "the timer never fired during the run";
    EXPECT_LT((flush_at < 0 ? clock_.elapsed() : flush_at) - acted_at_, 1000);
  }
  void Acted() { acted_at_ = clock_.elapsed(); }
  // A click on a button, queued as the desktop queues it.
  void QueueClick(const char* name) {
    QPushButton* button = Button(name);
    const QPointF at = button->mapTo(&form(), button->rect().center());
    for (const bool press : {true, false})
      QWindowSystemInterface::handleMouseEvent<
          QWindowSystemInterface::AsynchronousDelivery>(
          form().windowHandle(), at, form().mapToGlobal(at),
          press ? Qt::LeftButton : Qt::NoButton, Qt::LeftButton,
          press ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease);
  }

  QElapsedTimer clock_;
  qint64 acted_at_ = -1;
};

TEST_F(Form1StopsInTime, StopOrCloseDuringASlowScanEndsItAndCopiesNothing) {
  // One folder whose every lookup takes 10 ms: three seconds to scan.
  for (int i = 0; i < 300; ++i)
    tree_.Write("src/big/f" + std::to_string(i), "");
  platform_.hide_entry_types = true;
  platform_.before_call = [](Kind kind, const std::string&) {
    if (kind == Kind::kStat) std::this_thread::sleep_for(milliseconds(10));
  };
  // Closing ends the program: last.
  for (const bool close : {false, true}) {
    SCOPED_TRACE(close ? "closed" : "stopped");
    GoAndActInTime([&] {
      close ? (void)QWindowSystemInterface::handleCloseEvent<
                  QWindowSystemInterface::AsynchronousDelivery>(
                  form().windowHandle())
            : QueueClick("Command2");
    });
    RunOutcome stopped;
    stopped.stopped = true;
    EXPECT_EQ(Form1Seams::Run(form()).LastOutcome(), stopped);
    EXPECT_FALSE(testing::Exists(tree_.Path("dst")));
    EXPECT_EQ(Edit("Text3")->text(), "0");
    EXPECT_EQ(LastLine("List3").starts_with("Finished....in :"), !close);
  }
}

// "Go" by Enter during the scan waits; "Stop" then ends the run for good:
// the "Go" pressed before it is dropped.
TEST_F(Form1StopsInTime, AGoHeldBackDuringTheScanIsDroppedByStop) {
  for (int i = 0; i < 300; ++i)
    tree_.Write("src/big/f" + std::to_string(i), "");
  platform_.hide_entry_types = true;
  platform_.before_call = [](Kind kind, const std::string&) {
    if (kind == Kind::kStat) std::this_thread::sleep_for(milliseconds(10));
  };
  Button("Command3")->setFocus();
  GoAndActInTime([&] {
    for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease})
      QWindowSystemInterface::handleKeyEvent<
          QWindowSystemInterface::AsynchronousDelivery>(
          form().windowHandle(), type, Qt::Key_Return, Qt::NoModifier, "\r");
    QueueClick("Command2");
  });
  platform_.before_call = nullptr;
  QTest::qWait(300);
  RunOutcome stopped;
  stopped.stopped = true;
  EXPECT_EQ(Form1Seams::Run(form()).LastOutcome(), stopped);
  EXPECT_FALSE(testing::Exists(tree_.Path("dst")));
}

// Enter held on "Go" through a slow scan, its repeats sent as an X server
// sends them: the repeats held back during the scan start no second run.
TEST_F(Form1Alive, AGoHeldDownThroughTheScanRunsOnce) {
  for (int i = 0; i < 100; ++i)
    tree_.Write("src/big/f" + std::to_string(i), "");
  platform_.hide_entry_types = true;
  const auto main_thread = std::this_thread::get_id();
  platform_.before_call = [&](Kind kind, const std::string&) {
    // The scan's lookups only, about 0.7 s of them.
    if (kind == Kind::kStat && std::this_thread::get_id() == main_thread &&
        Lines("List1")->Count() == 0)
      std::this_thread::sleep_for(milliseconds(7));
  };
  Button("Command3")->setFocus();
  QSignalSpy gos(Button("Command3"), &QPushButton::clicked);
  ulong time = 1000;
  const auto send = [&](QEvent::Type type) {
    QWindowSystemInterface::handleKeyEvent<
        QWindowSystemInterface::AsynchronousDelivery>(
        form().windowHandle(), time, type, Qt::Key_Return, Qt::NoModifier,
        "\r");
  };
  int repeats = 0;
  QTimer held;
  held.callOnTimeout([&] {
    time += 33;
    send(QEvent::KeyRelease);
    if (++repeats < 20) return send(QEvent::KeyPress);
    held.stop();
  });
  send(QEvent::KeyPress);
  held.start(20);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return !held.isActive() &&
               LastLine("List3").starts_with("Finished....in :");
      },
      kBoundMs));
  QTest::qWait(100);
  EXPECT_EQ(gos.count(), 1);
}

// A failed copy's line keeps its text; its reason is the line's tooltip and
// description, and the context menu key shows it for the selected line.
TEST_F(Form1Alive, AFailedCopySaysWhyByItsLine) {
  tree_.Write("src/fine", "x");
  tree_.Write("src/unlucky", "y");
  platform_.fail_kind = Kind::kOpen;
  platform_.fail_name = "unlucky";
  platform_.fail_error = EACCES;
  Go();
  LineList* list3 = Lines("List3");
  const std::vector<std::string> lines = Shown("List3");
  const auto failed = std::ranges::find(
      lines, kCopyErrorPrefix + tree_.Path("dst") + "/unlucky");
  ASSERT_NE(failed, lines.end());
  const int row = failed - lines.begin();
  QAccessibleInterface* items = QAccessible::queryAccessibleInterface(list3);
  for (int i = 0; i < list3->Count(); ++i)
    EXPECT_EQ(items->child(i)->text(QAccessible::Description),
              i == row ? "Permission denied" : "")
        << lines[i];

  const QRect line = list3->LineRect(row);
  ASSERT_FALSE(line.isEmpty());
  QHelpEvent hover(QEvent::ToolTip, line.center(),
                   list3->viewport()->mapToGlobal(line.center()));
  QApplication::sendEvent(list3->viewport(), &hover);
  EXPECT_EQ(QToolTip::text(), "Permission denied");
  QToolTip::hideText();
  list3->setFocus();
  list3->SelectLine(row);
  QContextMenuEvent menu_key(QContextMenuEvent::Keyboard, QPoint(),
                             list3->mapToGlobal(QPoint()));
  QApplication::sendEvent(list3, &menu_key);
  EXPECT_EQ(QToolTip::text(), "Permission denied");
  // The copy log holds the line as it was.
  EXPECT_EQ(testing::ReadFile(CopyLogPath(program().root())),
            std::string(kCopyErrorPrefix) + tree_.Path("dst") + "/unlucky\r\n");
}

TEST_F(Form1StopsInTime, PauseHoldsABigFileAndStopOrCloseKeepsItsEarlierCopy) {
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
  const auto click = [this](const char* name) {
    QTest::mouseClick(Button(name), Qt::LeftButton);
  };
  // Paused for 400 ms, resumed for 200 ms, then stopped: the chunks copied
  // by each of those times.
  int at_pause = -1, at_resume = -1, at_stop = -1;
  const auto pause_resume_stop = [&] {
    click("Command11");
    at_pause = chunks;
    EXPECT_EQ(Button("Command11")->text(), "Resume Copying");
    QTimer::singleShot(400, &form(), [&] {
      at_resume = chunks;
      click("Command11");
      QTimer::singleShot(200, &form(), [&] {
        at_stop = chunks;
        Acted();
        click("Command2");
      });
    });
  };
  enum Act { kStop, kPause, kClose };  // closing ends the program: last
  for (const Act act : {kStop, kPause, kClose}) {
    SCOPED_TRACE(act);
    chunks = 0;
    GoAndActInTime([&] {
      switch (act) {
        case kStop:
          return click("Command2");
        case kPause:
          return pause_resume_stop();
        case kClose:
          return (void)form().close();
      }
    });
    EXPECT_LT(chunks, kChunks);
    EXPECT_EQ(testing::ReadFile(tree_.Path("dst/big")), "earlier copy");
    EXPECT_EQ(testing::Entries(tree_.Path("dst")),
              std::set<std::string>{"big"});
    EXPECT_FALSE(std::ranges::any_of(Shown("List3"), [](const auto& line) {
      return line.starts_with(kCopyErrorPrefix);
    }));
    EXPECT_EQ(Edit("Text4")->text(), "0");
    EXPECT_EQ(LastLine("List3").starts_with("Finished....in :"), act != kClose);
  }
  EXPECT_GE(at_pause, 1);
  EXPECT_EQ(at_resume, at_pause) << "copied on while paused";
  EXPECT_GT(at_stop, at_resume) << "not resumed";
}

}  // namespace
}  // namespace ferrybox
