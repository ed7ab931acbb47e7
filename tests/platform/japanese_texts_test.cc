#include "platform/japanese_texts.h"

#include <gtest/gtest.h>

namespace {

// Written out as bytes so that a table converted with the wrong encoding cannot pass.
TEST(JapaneseTexts, AreShiftJisBytes) {
  EXPECT_EQ(platform::texts::kCannotOpenFile,
            "\x83t\x83@\x83"
            "C\x83\x8b %s \x82\xcd\x8aJ\x82\xaf\x82\xdc\x82\xb9\x82\xf1");
  EXPECT_EQ(platform::texts::kStartupError.substr(2, 2), "\x82\xaa");  // が
  EXPECT_EQ(platform::texts::kStartupError.substr(platform::texts::kStartupError.size() - 7),
            "\x81\x42\n%s%s");
}

}  // namespace
