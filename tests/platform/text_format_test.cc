#include "platform/text_format.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(TextFormat, FillsSequentialAndIndexedHoles) {
  EXPECT_EQ(FormatText("a %s b %d c", {"x", "12"}), "a x b 12 c");
  EXPECT_EQ(FormatText("%1:d line %0:s", {"too long", "7"}), "7 line too long");
  EXPECT_EQ(FormatText("100%% %s", {"done"}), "100% done");
  EXPECT_EQ(FormatText("missing %s", {}), "missing ");
  EXPECT_EQ(FormatText("%q stays, so does a final %", {}), "%q stays, so does a final %");
}

}  // namespace
