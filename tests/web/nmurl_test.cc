#include "web/nmurl.h"

#include <gtest/gtest.h>

#include <random>

using namespace web;

namespace {

using namespace std::string_literals;

TEST(NMURL, EncodesLettersAndDigitsAsTheyAreBlanksAsPlusAndAllElseAsUpperCaseEscapes) {
  struct Case {
    std::string text;
    std::string encoded;
  } cases[] = {
      {"", ""},
      {" ", "+"},
      {"+", "%2B"},
      {"AZaz09", "AZaz09"},
      {"-._~*", "%2D%2E%5F%7E%2A"},
      {"/", "%2F"},
      {"a b&c=d", "a+b%26c%3Dd"},
      {"\x82\xA0", "%82%A0"},
      {"\x93\xFA\x96\x7B", "%93%FA%96%7B"},
      {"\0\x7F\x80\xFF"s, "%00%7F%80%FF"},
      {"\r\n", "%0D%0A"},
  };
  TNMURL url;
  for (const auto& c : cases) EXPECT_EQ(url.URLEncode(c.text), c.encoded) << c.text;
}

TEST(NMURL, OnlyTheSixtyTwoLettersAndDigitsStayUnescaped) {
  TNMURL url;
  int unescaped = 0;
  for (int byte = 0; byte < 256; ++byte) {
    const std::string encoded = url.URLEncode(std::string(1, static_cast<char>(byte)));
    if (encoded.size() == 1) {
      ++unescaped;
      continue;
    }
    ASSERT_EQ(encoded.size(), 3u) << byte;
    EXPECT_EQ(encoded[0], '%');
    EXPECT_EQ(encoded.find_first_of("abcdef"), std::string::npos) << encoded;
  }
  EXPECT_EQ(unescaped, 62 + 1);  // the blank is the one-byte "+"
}

TEST(NMURL, DecodesEscapesAndPlusAndReturnsMalformedInputUnchanged) {
  struct Case {
    std::string text;
    std::string decoded;
  } cases[] = {
      {"%41%42", "AB"},
      {"%4a", "J"},
      {"%4A", "J"},
      {"+", " "},
      {"a+b", "a b"},
      {"%00", "\0"s},
      {"%82%a0%82%A0", "\x82\xA0\x82\xA0"},
      {"%2B", "+"},
      {"100%zz", "100%zz"},
      {"%41%zz", "%41%zz"},
      {"a+b%41%G0", "a+b%41%G0"},
      {"%+1", "%+1"},
      {"% 1", "% 1"},
      {"%-1", "%-1"},
      {"%", "%"},
      {"abc%", "abc%"},
      {"%41%4", "%41%4"},
      {"", ""},
  };
  TNMURL url;
  for (const auto& c : cases) EXPECT_EQ(url.URLDecode(c.text), c.decoded) << c.text;
}

TEST(NMURL, DecodingStopsAtTheEndOfItsInput) {
  // The digit after the view must not complete the escape.
  const std::string buffer = "ab%41";
  TNMURL url;
  EXPECT_EQ(url.URLDecode(std::string_view(buffer).substr(0, 4)), "ab%4");
  EXPECT_EQ(url.URLDecode(std::string_view(buffer).substr(0, 3)), "ab%");
}

TEST(NMURL, MalformedEscapeIsReportedToOnError) {
  TNMURL url;
  std::vector<std::string> reports;
  url.OnError = [&](TNMURL& sender, const std::string& operation, const std::string& errMsg) {
    EXPECT_EQ(&sender, &url);
    reports.push_back(operation + "|" + errMsg);
  };
  url.InputString = "%41%zz";
  EXPECT_EQ(url.GetDecodeString(), "%41%zz");
  url.InputString = "%4";
  EXPECT_EQ(url.GetDecodeString(), "%4");
  url.InputString = "%41+";
  EXPECT_EQ(url.GetDecodeString(), "A ");
  // "'$zz' は整数ではありません"
  const std::string notAnInteger =
      "' \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  EXPECT_EQ(reports, (std::vector<std::string>{"Error during decode|'$zz" + notAnInteger,
                                               "Error during decode|'$4" + notAnInteger}));
}

TEST(NMURL, GetEncodeStringEncodesInputString) {
  TNMURL url;
  EXPECT_EQ(url.GetEncodeString(), "");
  url.InputString = "a b";
  EXPECT_EQ(url.GetEncodeString(), "a+b");
}

TEST(NMURL, EncodingThenDecodingGivesBackAnyBytes) {
  std::mt19937 random(20240501);
  std::uniform_int_distribution<int> length(0, 300);
  std::uniform_int_distribution<int> byte(0, 255);
  TNMURL url;
  for (int round = 0; round < 2000; ++round) {
    std::string text(static_cast<std::size_t>(length(random)), '\0');
    for (char& c : text) c = static_cast<char>(byte(random));
    ASSERT_EQ(url.URLDecode(url.URLEncode(text)), text) << "round " << round;
  }
}

}  // namespace
