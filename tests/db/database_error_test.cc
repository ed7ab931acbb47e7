#include "db/database_error.h"

#include <gtest/gtest.h>

#include "db/engine.h"

using namespace db;

namespace {

std::string_view TextOf(std::uint16_t code) {
  switch (code) {
    case 0x2501:
      return "Alias not found";
    case 0x2EC4:
      return "General SQL error";
    case 0x3001:
      return "  Disk full \r\n";
    default:
      return {};
  }
}

struct Case {
  const char* what;
  std::uint16_t code;
  bool started;
  std::vector<TDBError> stack;
  std::string message;
};

TEST(ComposeEngineMessage, CollectsDistinctTrimmedTexts) {
  const Case cases[] = {
      {"start-up failure",
       0x2101,
       false,
       {{0x2101, 0, "detail"}},
       "dbengine \x82\xcc\x8f\x89\x8a\xfa\x89\xbb\x92\x86\x82\xc9\x83G\x83\x89\x81[\x82\xaa\x94\xad"
       "\x90\xb6\x82\xb5\x82\xdc\x82\xb5\x82\xbd (\x83G\x83\x89\x81[ $2101)"},
      {"2F01 before start is composed as usual", 0x2F01, false, {{0x2F01, 0, "again"}}, "again"},
      {"code text, then the entry's code text and message",
       0x2501,
       true,
       {{0x3001, 0, "alias 'x'"}},
       "Alias not found\r\nDisk full\r\nalias 'x'"},
      {"a repeated text in other letter case appears once",
       0x2501,
       true,
       {{0x2501, 0, "ALIAS NOT FOUND"}, {0x2501, 0, " alias not found\t"}},
       "Alias not found"},
      {"an entry with a native code gives only its message",
       0x2501,
       true,
       {{0x3001, 7, "server says no"}},
       "Alias not found\r\nserver says no"},
      {"2EC4 skips the code texts",
       0x2EC4,
       true,
       {{0x3001, 0, "no such table: T"}},
       "no such table: T"},
      {"nothing collected", 0x2EC4, true, {{0x2EC4, 0, "  "}}, "dbengine\x83G\x83\x89\x81[ $2EC4"},
      {"unknown code", 0xABCD, true, {}, "dbengine\x83G\x83\x89\x81[ $ABCD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ComposeEngineMessage(c.code, c.started, db::kEngineName, TextOf, c.stack), c.message)
        << c.what;
  }
}

// Trail bytes are no letters: two different characters must not compare equal.
TEST(ComposeEngineMessage, KeepsTextsThatDifferOnlyInATrailByte) {
  std::vector<TDBError> stack = {{0x3001, 1,
                                  "\x83"
                                  "a"},
                                 {0x3001, 1,
                                  "\x83"
                                  "A"}};
  EXPECT_EQ(ComposeEngineMessage(0x2EC4, true, "dbengine", TextOf, stack),
            "\x83"
            "a\r\n\x83"
            "A");
}

}  // namespace
