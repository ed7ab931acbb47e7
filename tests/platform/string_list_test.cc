#include "platform/string_list.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(StringList, FirstLineWhoseNameMatchesIgnoringCaseWins) {
  const TStringList lines = {"novalue", "BookName=first", "bookname=second", "a=b=c", "=empty"};
  EXPECT_EQ(FieldValue(lines, "bookname"), "first");
  EXPECT_EQ(FieldValue(lines, "A"), "b=c");
  EXPECT_EQ(FieldValue(lines, ""), "empty");
  EXPECT_EQ(FieldValue(lines, "novalue"), "");
  EXPECT_EQ(FieldValue(lines, "missing"), "");
}

}  // namespace
