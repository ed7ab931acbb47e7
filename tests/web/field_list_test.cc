#include "web/field_list.h"

#include <gtest/gtest.h>

#include "platform/exception.h"

using namespace platform;
using namespace web;

namespace {

TStringList RequestFields(std::string_view text) {
  TStringList list;
  SplitFieldList("&", "", text, list, false);
  return list;
}

TStringList TagParams(std::string_view text, bool strip = true) {
  TStringList list;
  SplitFieldList(" ", " ", text, list, strip);
  return list;
}

TEST(FieldList, RequestTextsSplitAtAmpersandThenDecode) {
  struct Case {
    std::string_view text;
    TStringList lines;
  } cases[] = {
      {"a+b%2Bc=x%26y", {"a b+c=x&y"}},
      {"BOOKNAME=%93%FA%96%7B&ORDER=MS_SYOKANA&PAGENUM=0",
       {"BOOKNAME=\x93\xFA\x96\x7B", "ORDER=MS_SYOKANA", "PAGENUM=0"}},
      {"x=1&&y=2&", {"x=1", "y=2"}},
      {"", {}},
      {"a%3Db=c", {"a=b=c"}},
      {"\r\nx=1\r\ny=2", {"x=1", "y=2"}},
      {"\"a&b\"&c", {"a&b", "c"}},
      {"n=\"a&b\"Xm=1", {"n=\"a&b\"", "m=1"}},
      {"n=\"open", {"n=\"open"}},
      {"p=100%%&q=%4a", {"p=100%", "q=J"}},
      {"end=%4", {"end=%4"}},
      {"end=%", {"end=%"}},
  };
  for (const auto& c : cases) EXPECT_EQ(RequestFields(c.text), c.lines) << c.text;
}

TEST(FieldList, TagParametersSplitAtBlanksWithOptionalQuoteStripping) {
  EXPECT_EQ(TagParams("name=\"a b\" x=1"), (TStringList{"name=a b", "x=1"}));
  EXPECT_EQ(TagParams("a=1+2%41"), (TStringList{"a=1 2A"}));
  EXPECT_EQ(TagParams("  it's  "), (TStringList{"its"}));
  EXPECT_EQ(TagParams("name=\"a b\" x='1'", false), (TStringList{"name=\"a b\"", "x='1'"}));
}

TEST(FieldList, BadEscapeFailsWithTheTwoBytesInTheMessage) {
  try {
    RequestFields("a=%G1");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(
        e.Message(),
        "'$G1' \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1");
  }
  EXPECT_THROW(DecodeFieldText("%-1x"), EConvertError);
  EXPECT_THROW(DecodeFieldText("% 1"), EConvertError);
}

}  // namespace
