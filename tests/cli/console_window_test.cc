#include "cli/console_window.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli/progress_line.h"

namespace ferrybox {
namespace {

using std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

constexpr char kClear[] = "\r\x1b[K";

// A console window over string streams and a clock the test moves.
class ConsoleWindowTest : public ::testing::Test {
 protected:
  std::unique_ptr<ConsoleWindow> Make(bool err_is_terminal,
                                      bool out_is_terminal = false) {
    progress_ = std::make_unique<ProgressLine>(err_, err_is_terminal);
    auto window = std::make_unique<ConsoleWindow>(
        boxes_, out_, out_is_terminal, *progress_,
        [this] { return stop_requested_; }, [this] { return now_; });
    window->Connect([this] { ++stops_; },
                    [](ProgressFigures& figures) {
                      figures.files_total = 20000;
                      figures.files_copied = 7;
                      figures.kb_total = 3 * 1024;
                    });
    return window;
  }

  // Counts how often the progress line was drawn (each draw erases to the
  // end of the line after its text).
  int Draws() const {
    const std::string err = err_.str();
    int draws = 0;
    for (size_t at = err.find('\r'); at != std::string::npos;
         at = err.find('\r', at + 1)) {
      if (err.compare(at, 4, kClear) != 0) ++draws;
    }
    return draws;
  }

  ConsoleBoxes boxes_{"/src", "/dst", 1, 0, 2};
  std::ostringstream out_;
  std::ostringstream err_;
  std::unique_ptr<ProgressLine> progress_;
  TimePoint now_{std::chrono::seconds(1000)};
  bool stop_requested_ = false;
  int stops_ = 0;
};

TEST_F(ConsoleWindowTest, EveryListLineReachesOutputUnchangedAndInOrder) {
  auto window = Make(false);
  EXPECT_EQ(window->Text1(), "/src");
  EXPECT_EQ(window->Text2(), "/dst");
  EXPECT_EQ(window->CheckValue(CheckBox::kCheck1), 1);
  EXPECT_EQ(window->CheckValue(CheckBox::kCheck2), 0);
  EXPECT_EQ(window->CheckValue(CheckBox::kCheck3), 2);

  window->AddItem(ListBox::kList3, "Starting copy: 14:05:09");
  window->AddItem(ListBox::kList1, "/src/a b.txt");
  window->AddItem(ListBox::kList2, "New File, Copying: /dst/a b.txt");
  window->AddItem(ListBox::kList1, "");
  window->ClearList(ListBox::kList1);
  window->SetTopIndex(ListBox::kList1, 3);
  window->RepaintList(ListBox::kList1);
  window->AddItem(ListBox::kList1, "/src/\ttab");
  window->AddItem(ListBox::kList3, "Finished....in :0.01 seconds");
  window->Finish();
  EXPECT_EQ(out_.str(),
            "Starting copy: 14:05:09\n"
            "/src/a b.txt\n"
            "New File, Copying: /dst/a b.txt\n"
            "\n"
            "/src/\ttab\n"
            "Finished....in :0.01 seconds\n");
  EXPECT_FALSE(window->output_failed());
  EXPECT_EQ(window->PreviousList3Line(), "Starting copy: 14:05:09");
  EXPECT_EQ(err_.str(), "") << "no progress line off a terminal";
}

TEST_F(ConsoleWindowTest, FileLinesWaitForATickMessagesGoOutAtOnce) {
  auto window = Make(false);
  window->SetFigure(FigureBox::kText3, "0");  // first tick
  window->AddItem(ListBox::kList1, "/src/one");
  window->SetFigure(FigureBox::kText3, "1");
  EXPECT_EQ(out_.str(), "") << "no tick yet";

  now_ += ConsoleWindow::kTick;
  window->ProcessEvents();
  EXPECT_EQ(out_.str(), "/src/one\n");

  window->AddItem(ListBox::kList1, "/src/two");
  window->AddItem(ListBox::kList3, "Error copying file: /dst/two");
  EXPECT_EQ(out_.str(), "/src/one\n/src/two\nError copying file: /dst/two\n");
}

TEST_F(ConsoleWindowTest, ABigBatchIsWrittenWithoutWaitingForATick) {
  auto window = Make(false);
  const std::string line(1000, 'x');
  size_t lines = 0;
  while (out_.str().empty() && lines < 1000) {
    window->AddItem(ListBox::kList2, line);
    ++lines;
  }
  EXPECT_EQ(lines, ConsoleWindow::kOutputChunk / (line.size() + 1) + 1);
}

TEST_F(ConsoleWindowTest, ProgressLineIsRedrawnAtMostTenTimesASecond) {
  auto window = Make(true);
  window->SetFigure(FigureBox::kText3, "0");
  EXPECT_EQ(err_.str(), "\rScanning files...\x1b[K");

  // 990 files within 99 ms: no redraw.
  for (int i = 1; i <= 990; ++i) {
    if (i % 10 == 0) now_ += milliseconds(1);
    window->SetFigure(FigureBox::kText3, std::to_string(i));
  }
  EXPECT_EQ(Draws(), 1);

  now_ += milliseconds(1);
  window->SetFigure(FigureBox::kText3, "991");
  EXPECT_EQ(Draws(), 2);
  // The rate counts from the first file, 100 ms earlier.
  EXPECT_NE(err_.str().find("\r991 of 20000 files, 7 copied, 3 MB, 30.0 MB/s"
                            "\x1b[K"),
            std::string::npos)
      << err_.str();

  // Yields count too, but still no more than one draw per 100 ms.
  now_ += milliseconds(50);
  window->ProcessEvents();
  now_ += milliseconds(60);
  window->ProcessEvents();
  window->ProcessEvents();
  EXPECT_EQ(Draws(), 3);

  window->Finish();
  EXPECT_TRUE(err_.str().ends_with(kClear)) << "erased at the end";
}

TEST_F(ConsoleWindowTest, ProgressLineIsErasedBeforeLinesOnTheSameScreen) {
  auto window = Make(true, /*out_is_terminal=*/true);
  window->SetFigure(FigureBox::kText3, "0");
  ASSERT_EQ(Draws(), 1);
  window->AddItem(ListBox::kList3, "Please wait...");
  EXPECT_TRUE(err_.str().ends_with(kClear));
  // Not erased twice when nothing was drawn in between.
  const size_t length = err_.str().size();
  window->AddItem(ListBox::kList3, "Error copying file: /dst/x");
  EXPECT_EQ(err_.str().size(), length);
}

TEST_F(ConsoleWindowTest, ProgressStaysWhenOutputGoesElsewhere) {
  auto window = Make(true, /*out_is_terminal=*/false);
  window->SetFigure(FigureBox::kText3, "0");
  window->AddItem(ListBox::kList3, "Please wait...");
  EXPECT_EQ(err_.str(), "\rScanning files...\x1b[K");
}

TEST_F(ConsoleWindowTest, AStopRequestStopsTheRunAtTheNextFileOrYield) {
  auto window = Make(false);
  window->SetFigure(FigureBox::kText3, "1");
  window->ProcessEvents();
  EXPECT_EQ(stops_, 0);

  stop_requested_ = true;
  window->SetFigure(FigureBox::kText3, "2");
  EXPECT_EQ(stops_, 1);
  window->ProcessEvents();
  EXPECT_EQ(stops_, 2);
  // Other figures are not a file boundary.
  window->SetFigure(FigureBox::kText4, "1");
  EXPECT_EQ(stops_, 2);
}

TEST_F(ConsoleWindowTest, AFailingOutputIsNotedAndTheRunGoesOn) {
  auto window = Make(false);
  out_.setstate(std::ios::badbit);
  window->AddItem(ListBox::kList3, "Starting copy: 14:05:09");
  EXPECT_TRUE(window->output_failed());
  window->AddItem(ListBox::kList3, "Finished....in :0.00 seconds");
  window->Finish();
  EXPECT_TRUE(window->output_failed());
}

TEST(ProgressText, FiguresAndRate) {
  ProgressFigures figures;
  figures.files_handled = 1234;
  figures.files_total = 20000;
  figures.files_copied = 1200;
  figures.kb_total = 12 * 1024 + 100;
  EXPECT_EQ(ProgressText(figures), "1234 of 20000 files, 1200 copied, 12 MB");
  figures.seconds = 4;
  EXPECT_EQ(ProgressText(figures),
            "1234 of 20000 files, 1200 copied, 12 MB, 3.0 MB/s");
}

}  // namespace
}  // namespace ferrybox
