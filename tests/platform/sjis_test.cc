#include "platform/sjis.h"

#include <gtest/gtest.h>

namespace {

TEST(Sjis, ALeadBytePairsOnlyWithATrailByte) {
  struct Case {
    std::string_view text;
    std::size_t length;
  } cases[] = {
      {"\x95\x5C", 2}, {"\x81\x40", 2}, {"\xFC\xFC", 2}, {"\xE0\x80", 2},
      {"\x81'", 1},    {"\x81:", 1},    {"\x81\x7F", 1}, {"\x81\xFD", 1},
      {"\x81", 1},     {"\xA0\x40", 1}, {"a\x81", 1},    {"\xDF\x40", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::CharLength(c.text, 0), c.length) << c.text;
}

}  // namespace
