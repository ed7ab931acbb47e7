#include "app/mask.h"

#include <gtest/gtest.h>

using namespace app;

namespace {

TEST(Mask, MatchesTheWholeTextIgnoringAsciiCase) {
  struct Case {
    const char* mask;
    const char* text;
    bool matches;
  } cases[] = {
      {"/list", "/list", true},   {"/list", "/LIST", true},
      {"/LiSt", "/lIsT", true},   {"/list", "/list/", false},
      {"/list", "/list2", false}, {"/list", "list", false},
      {"/list", "", false},       {"/", "/", true},
      {"/", "", false},           {"", "", true},
      {"", "/", false},           {"/l*", "/list", true},
      {"/l*", "/l", true},        {"*", "", true},
      {"/*/x", "/a/b/x", true},   {"/*/x", "/a/b/y", false},
      {"*a*b", "xxaxxbxb", true}, {"*a*b", "xxaxxbxbc", false},
      {"/d?ta", "/data", true},   {"/d?ta", "/dta", false},
      {"/[a-c]x", "/Bx", true},   {"/[a-c]x", "/dx", false},
      {"/[!a-c]x", "/dx", true},  {"/[!a-c]x", "/ax", false},
      {"/[xyz]", "/y", true},     {"/[]]", "/]", true},
      {"/[abc", "/[abc", true},  // no closing "]": the "[" is literal
      {"/[abc", "/a", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TMask(c.mask).Matches(c.text), c.matches) << c.mask << " ~ " << c.text;
  }
}

TEST(Mask, DoubleByteCharactersAreOneUnit) {
  struct Case {
    const char* mask;
    const char* text;
    bool matches;
  } cases[] = {
      // 表 is 0x95 0x5C: its trail byte is no backslash and no separate character.
      {"/\x95\x5C", "/\x95\x5C", true},
      {"/?", "/\x95\x5C", true},
      {"/??", "/\x95\x5C", false},
      // A trail byte that looks like a letter is not folded: ア (0x83 0x41) vs 0x83 0x61.
      {"/\x83\x41", "/\x83\x61", false},
      // Full-width letters are compared as they are.
      {"/\x82\x60", "/\x82\x81", false},
      {"/[\x82\xA0-\x82\xA4]", "/\x82\xA2", true},
      {"/[\x82\xA0-\x82\xA4]", "/\x82\xA6", false},
      {"/*\x95\x5C", "/ab\x95\x5C", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TMask(c.mask).Matches(c.text), c.matches) << c.mask << " ~ " << c.text;
  }
}

}  // namespace
