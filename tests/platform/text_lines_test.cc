#include "platform/text_lines.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(TextLines, SplitAtEveryKindOfLineBreakAndStopAtNul) {
  using std::string_literals::operator""s;
  EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd"), (TStringList{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitTextLines("a\r\n\r\nb\r\n"), (TStringList{"a", "", "b"}));
  EXPECT_EQ(SplitTextLines("select\n:ID\0junk\n"s), (TStringList{"select", ":ID"}));
  EXPECT_EQ(SplitTextLines(""), TStringList{});
  EXPECT_EQ(SplitTextLines("\x95\x5C\n"), TStringList{"\x95\x5C"});
}

}  // namespace
