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
  EXPECT_EQ(TagParams("name=\"a b\" x='1'", false), (TStringList{"name=\"a b\"", "x='1'"}));
}

// Only a pair of quotes around the whole value goes; a quote anywhere else, written
// bare or as %22 / %27, is part of the value.
TEST(FieldList, TagParameterKeepsQuotesInsideItsValue) {
  struct Case {
    std::string_view text;
    TStringList params;
  } cases[] = {
      {"LABEL=%22a%26b%3C", {"LABEL=\"a&b<"}},
      {"VALUE=a%22b", {"VALUE=a\"b"}},
      {"LABEL=it's", {"LABEL=it's"}},
      {"  it's  ", {"it's"}},
      {"VALUE=%22x%22", {"VALUE=x"}},
      {"VALUE='x'", {"VALUE=x"}},
      {"VALUE=\"\"", {"VALUE="}},
      {"VALUE='x\"", {"VALUE='x\""}},
      {"VALUE=%22%22a%22%22", {"VALUE=\"a\""}},
      {"VALUE=\"", {"VALUE=\""}},
      {"'x'", {"x"}},
      {"LABEL=a=\"b\"", {"LABEL=a=\"b\""}},
  };
  for (const auto& c : cases) EXPECT_EQ(TagParams(c.text), c.params) << c.text;
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
