// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/message_lists.h"

#include <errno.h>
#include <gtest/gtest.h>

#include "engine/copy_log.h"
#include "tests/support/memory_window.h"
#include "tests/support/temp_tree.h"
#include "tests/support/test_platforms.h"

namespace ferrybox {
namespace {

using Texts = std::vector<std::string>;

TEST(MessageLists, List3ScrollsFromTheSixthLineAndEmptiesAfter32001) {
  testing::MemoryWindow window;
  MessageLists lists(window);
  for (int i = 0; i < 5; ++i) lists.lp3("");  // empty lines count too
  EXPECT_TRUE(window.top_index_calls[2].empty());
  lists.lp3("sixth");
  EXPECT_EQ(window.top_index_calls[2], std::vector<int>{1});
  EXPECT_EQ(window.repaints[2], 6);  // every line is shown at once
  for (int i = 6; i < 32001; ++i) lists.lp3("line");
  EXPECT_EQ(window.List(ListBox::kList3).size(), 32001u);
  lists.lp3("fresh start");
  EXPECT_EQ(window.List(ListBox::kList3), Texts{"fresh start"});
  EXPECT_EQ(window.top_index_calls[2].back(), 0);  // back at the top
}

TEST(MessageLists, AClosedGateAddsNothingAndKeepsTheCounter) {
  testing::MemoryWindow window;
  MessageLists lists(window);
  window.check[0] = window.check[1] = 0;
  for (int i = 0; i < 5; ++i) {
    lists.lp1("lost");
    lists.lp2("lost");
  }
  window.check[0] = 2;  // greyed counts as ticked
  window.check[1] = 1;
  lists.lp1("after");
  lists.lp2("seen");
  EXPECT_EQ(window.List(ListBox::kList1), Texts{"after"});
  EXPECT_EQ(window.List(ListBox::kList2), Texts{"seen"});
  // Counted, the lost lines would have scrolled the lists; so would the
  // lines before the lists were emptied, as every run starts.
  for (int i = 0; i < 4; ++i) lists.lp1("more");
  lists.ClearFileLists();
  EXPECT_TRUE(window.List(ListBox::kList1).empty());
  lists.lp1("first");
  EXPECT_TRUE(window.top_index_calls[0].empty());
  EXPECT_TRUE(window.top_index_calls[1].empty());
}

TEST(OneLine, EscapesEveryControlAndKeepsEveryOtherCharacter) {
  const struct {
    std::string text;
    std::string line;
  } cases[] = {
      {"tab\tstays", "tab\tstays"},
      {"new\nline\r\x1b[2J\x7f", "new\\x0aline\\x0d\\x1b[2J\\x7f"},
      // U+009B (CSI), U+009D (OSC), U+009C (ST) as UTF-8.
      {"a\xc2\x9b"
       "2Jb\xc2\x9d"
       "0;t\xc2\x9c",
       "a\\xc2\\x9b2Jb\\xc2\\x9d0;t\\xc2\\x9c"},
      // The same controls as single bytes, outside any sequence.
      {"\x9b"
       "2J\x80\x9f",
       "\\x9b2J\\x80\\x9f"},
      // Continuation bytes of real characters are no controls: é, €, 😀,
      // U+00A0; a cut sequence keeps its lead and escapes its C1 byte.
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xc2\xa0",
       "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xc2\xa0"},
      {"\xe2\x82"
       "x\xff",
       "\xe2\\x82x\xff"},
  };
  for (const auto& c : cases) EXPECT_EQ(OneLine(c.text), c.line) << c.line;
}

TEST(CopyLog, ReachesTheDiskThroughTheFileLayerAndReturnsWhatStoppedALine) {
  using Call = testing::FaultyPlatform::Kind;
  const std::string line = "Error copying file: /b/new\\x0aline\\x1b[2J\r\n";
  const struct {
    Call call;
    int error;  ///< 0: nothing fails
    std::string log;
  } cases[] = {{Call::kCreate, 0, line},
               {Call::kCreate, EROFS, ""},
               {Call::kWrite, ENOSPC, ""},
               // Written, but the file system may have lost it.
               {Call::kClose, EDQUOT, line}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    testing::TempTree tree;
    const std::string log = tree.Write("filelog.txt", "earlier run\r\n");
    testing::FaultyPlatform files;
    ASSERT_TRUE(EmptyCopyLog(files, log));
    EXPECT_EQ(files.calls(), Texts({"create " + log, "close " + log}));
    if (c.error != 0) files.FailNth(c.call, 1, c.error);
    EXPECT_EQ(AppendCopyLog(files, log, "/b/new\nline\x1b[2J"), c.error);
    EXPECT_EQ(files.open_handles(), 0u);
    EXPECT_EQ(testing::ReadFile(log), c.log);
  }
  testing::TempTree tree;
  testing::FaultyPlatform files;
  files.FailNth(Call::kCreate, 1, EROFS);
  EXPECT_FALSE(EmptyCopyLog(files, CopyLogPath(tree.root())));
}

}  // namespace
}  // namespace ferrybox
