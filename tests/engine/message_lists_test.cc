#include "engine/message_lists.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/copy_log.h"
#include "tests/support/memory_window.h"

namespace ferrybox {
namespace {

using Texts = std::vector<std::string>;

class MessageListsTest : public ::testing::Test {
 protected:
  Texts& List(ListBox box) { return window_.List(box); }

  testing::MemoryWindow window_;
  MessageLists lists_{window_};
};

TEST_F(MessageListsTest, TheLineAfter32001EmptiesTheListFromItsTop) {
  for (int i = 0; i < 32001; ++i) lists_.lp3("line " + std::to_string(i));
  EXPECT_EQ(lists_.List3Count(), 32001);
  EXPECT_EQ(List(ListBox::kList3).size(), 32001u);
  lists_.lp3("fresh start");
  EXPECT_EQ(lists_.List3Count(), 1);
  EXPECT_EQ(List(ListBox::kList3), Texts{"fresh start"});
  EXPECT_EQ(window_.top_index_calls[2].back(), 0);  // scrolled to its top
}

TEST_F(MessageListsTest, NoScrollUpToFiveLinesThenNewestAtTheBottom) {
  for (int i = 0; i < 5; ++i) lists_.lp3("");  // empty lines count too
  EXPECT_TRUE(window_.top_index_calls[2].empty());
  lists_.lp3("sixth");
  lists_.lp3("  spaced = text:  ");
  EXPECT_EQ(window_.top_index_calls[2], (std::vector<int>{1, 2}));
  EXPECT_EQ(window_.repaints[2], 7);  // every line is shown at once
  EXPECT_EQ(List(ListBox::kList3).back(), "  spaced = text:  ");
}

TEST_F(MessageListsTest, AClosedGateAddsNothingAndKeepsTheCounter) {
  lists_.lp2("seen");
  window_.check[0] = window_.check[1] = 0;
  lists_.lp1("lost");
  lists_.lp2("lost");
  EXPECT_EQ(lists_.List1Count() + lists_.List2Count(), 1);
  EXPECT_EQ(window_.repaints[0], 0);
  // Ticking the box later does not bring the line back; greyed is ticked.
  window_.check[0] = 2;
  lists_.lp1("after");
  EXPECT_EQ(List(ListBox::kList1), Texts{"after"});
  // A run's start empties List1 and List2 but not List3, which has no gate.
  lists_.lp3("always");
  lists_.ClearFileLists();
  EXPECT_EQ(lists_.List1Count() + lists_.List2Count(), 0);
  EXPECT_TRUE(List(ListBox::kList1).empty() && List(ListBox::kList2).empty());
  EXPECT_EQ(List(ListBox::kList3), Texts{"always"});
}

TEST(CopyLog, LinesAreAppendedWithCrLfAndEmptiedAnew) {
  const std::string folder = ::testing::TempDir() + "copylog";
  std::filesystem::create_directories(folder);
  const std::string log = CopyLogPath(folder);
  EXPECT_EQ(log, folder + "/filelog.txt");
  ASSERT_TRUE(EmptyCopyLog(log));
  AppendCopyLog(log, "/backup/a b.txt");
  AppendCopyLog(log, "/backup/c");
  std::ifstream in(log, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "Error copying file: /backup/a b.txt\r\n"
            "Error copying file: /backup/c\r\n");
  ASSERT_TRUE(EmptyCopyLog(log));
  EXPECT_EQ(std::filesystem::file_size(log), 0u);  // emptied anew
  // An unwritable log is ignored.
  EXPECT_FALSE(EmptyCopyLog("/nonexistent-folder/filelog.txt"));
  AppendCopyLog("/nonexistent-folder/filelog.txt", "/backup/a");
  EXPECT_FALSE(std::filesystem::exists("/nonexistent-folder"));
}

}  // namespace
}  // namespace ferrybox
