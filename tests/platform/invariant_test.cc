#include "platform/invariant.h"

#include <gtest/gtest.h>

namespace {

// The checks are meant to be on in every build the tests run; a build that turned them
// off would pass every other test while checking nothing.
static_assert(LIRAWEB_ASSERTIONS, "the tests run with the invariant checks on");

int Evaluations(int& counter) { return ++counter; }

TEST(Invariant, HoldingConditionPassesAndIsEvaluatedOnce) {
  int counter = 0;
  LIRAWEB_ASSERT(Evaluations(counter) == 1);
  EXPECT_EQ(counter, 1);
}

TEST(InvariantDeathTest, BrokenConditionAbortsNamingFileLineAndCondition) {
  const int windowSize = 4096;
  const int position = 4097;
  EXPECT_DEATH(LIRAWEB_ASSERT(position <= windowSize),
               "invariant_test\\.cc:[0-9]+: invariant broken: position <= windowSize");
}

}  // namespace
