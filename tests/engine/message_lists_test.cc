#include "engine/message_lists.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/copy_log.h"
#include "tests/support/memory_window.h"

namespace ferrybox {
namespace {

using testing::MemoryWindow;

std::vector<std::string>& List3Of(MemoryWindow& window) {
  return window.List(ListBox::kList3);
}

TEST(MessageListsLimit, TheLineAfter32001EmptiesTheListFirst) {
  MemoryWindow window;
  MessageLists lists(window);
  for (int i = 0; i < 32000; ++i) lists.lp3("line " + std::to_string(i));
  EXPECT_EQ(lists.List3Count(), 32000);

  lists.lp3("the 32001st");
  EXPECT_EQ(lists.List3Count(), 32001);
  EXPECT_EQ(List3Of(window).size(), 32001u);
  EXPECT_EQ(List3Of(window).back(), "the 32001st");

  lists.lp3("fresh start");
  EXPECT_EQ(lists.List3Count(), 1);
  ASSERT_EQ(List3Of(window).size(), 1u);
  EXPECT_EQ(List3Of(window).front(), "fresh start");
  // The list was scrolled to its top before it was emptied.
  const auto& tops = window.top_index_calls[2];
  ASSERT_GE(tops.size(), 2u);
  EXPECT_EQ(tops.back(), 0);
}

TEST(MessageListsScroll, NoScrollUpToFiveLinesThenNewestAtTheBottom) {
  MemoryWindow window;
  MessageLists lists(window);
  for (int i = 0; i < 5; ++i) lists.lp3("x");
  EXPECT_TRUE(window.top_index_calls[2].empty());

  lists.lp3("sixth");
  ASSERT_EQ(window.top_index_calls[2].size(), 1u);
  EXPECT_EQ(window.top_index_calls[2].back(), 1);

  lists.lp3("seventh");
  EXPECT_EQ(window.top_index_calls[2].back(), 2);
  // Every line is shown at once.
  EXPECT_EQ(window.repaints[2], 7);
}

TEST(MessageListsGate, AClosedGateAddsNothingAndKeepsTheCounter) {
  MemoryWindow window;
  MessageLists lists(window);
  lists.lp1("seen");
  lists.lp2("seen");
  window.check[0] = 0;
  window.check[1] = 0;
  lists.lp1("lost");
  lists.lp2("lost");
  EXPECT_EQ(lists.List1Count(), 1);
  EXPECT_EQ(lists.List2Count(), 1);
  EXPECT_EQ(window.repaints[0], 1);

  // Ticking the box later does not bring the line back.
  window.check[0] = 1;
  lists.lp1("after");
  EXPECT_EQ(window.List(ListBox::kList1),
            (std::vector<std::string>{"seen", "after"}));

  // A greyed box counts as ticked; List3 has no gate at all.
  window.check[1] = 2;
  lists.lp2("greyed");
  EXPECT_EQ(lists.List2Count(), 2);
  window.check[0] = window.check[1] = window.check[2] = 0;
  lists.lp3("always");
  EXPECT_EQ(lists.List3Count(), 1);
}

TEST(MessageListsLines, AnEmptyLineCountsAndTextIsKeptAsIs) {
  MemoryWindow window;
  MessageLists lists(window);
  lists.lp3("");
  lists.lp3("  spaced = text:  ");
  EXPECT_EQ(lists.List3Count(), 2);
  EXPECT_EQ(List3Of(window),
            (std::vector<std::string>{"", "  spaced = text:  "}));
}

TEST(MessageListsClear, ClearingTheFileListsLeavesList3) {
  MemoryWindow window;
  MessageLists lists(window);
  lists.lp1("a");
  lists.lp2("b");
  lists.lp3("c");
  lists.ClearFileLists();
  EXPECT_EQ(lists.List1Count(), 0);
  EXPECT_EQ(lists.List2Count(), 0);
  EXPECT_TRUE(window.List(ListBox::kList1).empty());
  EXPECT_TRUE(window.List(ListBox::kList2).empty());
  EXPECT_EQ(lists.List3Count(), 1);
  EXPECT_EQ(List3Of(window).size(), 1u);
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CopyLog, LinesAreAppendedWithCrLfAndEmptiedAnew) {
  const auto folder = std::filesystem::path(::testing::TempDir()) / "copylog";
  std::filesystem::create_directories(folder);
  const std::string log = CopyLogPath(folder.string());
  EXPECT_EQ(log, folder.string() + "/filelog.txt");

  ASSERT_TRUE(EmptyCopyLog(log));
  AppendCopyLog(log, "/backup/a b.txt");
  AppendCopyLog(log, "/backup/c");
  EXPECT_EQ(ReadAll(log),
            "Error copying file: /backup/a b.txt\r\n"
            "Error copying file: /backup/c\r\n");

  ASSERT_TRUE(EmptyCopyLog(log));
  EXPECT_EQ(std::filesystem::file_size(log), 0u);
}

TEST(CopyLog, AnUnwritableLogIsIgnored) {
  const std::string log = "/nonexistent-folder/filelog.txt";
  EXPECT_FALSE(EmptyCopyLog(log));
  AppendCopyLog(log, "/backup/a");  // must neither throw nor create anything
  EXPECT_FALSE(std::filesystem::exists(log));
}

}  // namespace
}  // namespace ferrybox
