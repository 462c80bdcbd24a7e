// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/name_bytes.h"

#include <gtest/gtest.h>

namespace ferrybox {
namespace {

// Every byte string comes back from its shown form unchanged; valid UTF-8
// shows as its characters; each stray byte shows as one mark.
TEST(NameBytes, AnyBytesComeBackAndValidUtf8ShowsAsItsCharacters) {
  struct Case {
    std::string bytes;
    int marks;  // bytes that are not part of valid UTF-8
  };
  const Case cases[] = {
      {"", 0},
      {"/home/ann/all files", 0},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 0},  // 2, 3 and 4 bytes
      {"\xEF\xBF\xBD", 0},           // a real replacement character
      {"/x/bk\xE9", 1},              // Latin-1
      {"\x80", 1},                   // a continuation byte alone
      {"\xFF\xFE", 2},               // never in UTF-8
      {"\xC0\x80", 2},               // overlong NUL
      {"\xE0\x80\xAF", 3},           // overlong "/"
      {"\xED\xA0\x80", 3},           // a surrogate
      {"\xED\xB2\x80", 3},           // the very surrogate a mark uses
      {"\xF4\x90\x80\x80", 4},       // above U+10FFFF
      {"\xE2\x82", 2},               // cut short at the end
      {"\xE2\x82x\xF0\x9F\x98", 5},  // cut short before "x" and at the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    const QString shown = ShownName(c.bytes);
    EXPECT_EQ(NameBytes(shown), c.bytes);
    int marks = 0;
    for (QChar ch : shown)
      marks += ch.unicode() >= 0xDC80 && ch.unicode() <= 0xDCFF;
    EXPECT_EQ(marks, c.marks);
    if (c.marks == 0) {
      EXPECT_EQ(shown, QString::fromUtf8(c.bytes));
    }
  }
  EXPECT_EQ(ShownName("/x/bk\xE9"), "/x/bk" + QString(QChar(0xDCE9)));
}

TEST(NameBytes, TypedTextIsUtf8) {
  const QString typed = QString::fromUtf8("/caf\xC3\xA9/\xF0\x9F\x98\x80");
  EXPECT_EQ(NameBytes(typed), typed.toStdString());
  // A lone surrogate that no name gives is a replacement character.
  EXPECT_EQ(NameBytes(QChar(0xD800) + QString("a") + QChar(0xDC41)),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD");
}

}  // namespace
}  // namespace ferrybox
