#include "platform/int_conversion.h"

#include <gtest/gtest.h>

#include "platform/exception.h"

using namespace platform;

namespace {

struct Case {
  const char* text;
  std::optional<std::int32_t> value;
};

TEST(IntConversion, AcceptsWholeTextsOnlyWithinThirtyTwoBits) {
  const Case cases[] = {
      {"0", 0},           {"42", 42},
      {"  7", 7},         {"-5", -5},
      {"+9", 9},          {"$1F", 31},
      {"0x1f", 31},       {"X1f", 31},
      {"-$10", -16},      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"$80000000", std::nullopt},
      {"", std::nullopt}, {" ", std::nullopt},
      {"12 ", std::nullopt}, {"abc", std::nullopt},
      {"9X", std::nullopt}, {"-", std::nullopt},
      {"$", std::nullopt}, {"0x", std::nullopt},
      {"1e3", std::nullopt}, {"\t1", std::nullopt},
      {"99999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TryStrToInt(c.text), c.value) << "text: '" << c.text << "'";
  }
}

TEST(IntConversion, FailureNamesTheTextInShiftJis) {
  try {
    StrToInt("a1");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.ClassName(), "EConvertError");
    // 'a1' は整数ではありません
    EXPECT_EQ(e.Message(),
              "'a1' \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1");
  }
}

TEST(IntConversion, FallbackReplacesAnyFailure) {
  EXPECT_EQ(StrToIntDef("abc", 20), 20);
  EXPECT_EQ(StrToIntDef("-5", 20), -5);
}

}  // namespace
