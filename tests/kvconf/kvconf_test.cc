#include "kvconf/kvconf.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

class KvconfTest : public ::testing::Test {
 protected:
  std::string WriteConf(const std::string& content) {
    std::string path = dir_ / "liraweb.conf";
    test_support::WriteBytes(path, content);
    return path;
  }

  // The answer copied at once, as the program does; nothing for a null pointer.
  static std::optional<std::string> Ask(const std::string& path, const char* key) {
    const char* answer = _GetConfValue(path.c_str(), key);
    if (answer == nullptr) return std::nullopt;
    return std::string(answer);
  }

  test_support::TempDir dir_{"kvconf_"};
};

TEST_F(KvconfTest, AnswersFollowTheFileFormat) {
  std::string path = WriteConf(
      "# comment=no\n"
      "; COMMENTED=no\n"
      "[section]\n"
      "\n"
      "\r\n"
      "LEAD= lead\n"
      "TRAIL=trail \r\n"
      "EQUALS=a=b=c\n"
      "EMPTY=\n"
      "FIRST=one\n"
      "FIRST=two\n"
      "SPACED = spaced\n"
      "no equals sign\n"
      "CRINSIDE=a\rb\r\n"
      "SJIS=\x95\x5C\x8e\xa6\r\n"
      "=anonymous\n"
      "LAST=no line end");
  struct Case {
    const char* key;
    std::optional<std::string> expected;
  } cases[] = {
      {"LEAD", " lead"},
      {"TRAIL", "trail "},
      {"EQUALS", "a=b=c"},
      {"EMPTY", ""},
      {"FIRST", "one"},
      {"SPACED", std::nullopt},
      {"SPACED ", " spaced"},
      {"lead", std::nullopt},
      {"CRINSIDE", "a\rb"},
      {"SJIS", "\x95\x5C\x8e\xa6"},
      {"LAST", "no line end"},
      {"# comment", std::nullopt},
      {"; COMMENTED", std::nullopt},
      {"[section]", std::nullopt},
      {"MISSING", std::nullopt},
      {"", "anonymous"},
  };
  for (const Case& c : cases) EXPECT_EQ(Ask(path, c.key), c.expected) << c.key;
}

TEST_F(KvconfTest, MissingOrUnreadableFileAndNullArgumentsAnswerNull) {
  EXPECT_EQ(_GetConfValue((dir_ / "none.conf").c_str(), "KEY"), nullptr);
  EXPECT_EQ(_GetConfValue(dir_.Path().c_str(), "KEY"), nullptr);
  std::string path = WriteConf("KEY=value\n");
  EXPECT_EQ(_GetConfValue(nullptr, "KEY"), nullptr);
  EXPECT_EQ(_GetConfValue(path.c_str(), nullptr), nullptr);
}

// A long-lived process asks the same file again and again: every change made between
// two asks is seen by the second, whether the file was read long after its last change
// (and so kept) or changed twice within one tick of the file system's clock.
TEST_F(KvconfTest, EveryChangeBetweenTwoAsksIsSeen) {
  const std::string spare = dir_ / "spare.conf";
  struct Change {
    const char* what;
    std::function<void(const std::string& path)> make;
    std::optional<std::string> expected;
  } changes[] = {
      {"rewritten in place, same size",
       [](const std::string& path) { test_support::WriteBytes(path, "KEY=new\n"); }, "new"},
      {"replaced by another file of the same size",
       [&](const std::string& path) {
         test_support::WriteBytes(spare, "KEY=rep\n");
         ASSERT_EQ(std::rename(spare.c_str(), path.c_str()), 0);
       },
       "rep"},
      {"removed", [](const std::string& path) { ASSERT_EQ(unlink(path.c_str()), 0); },
       std::nullopt},
  };
  for (bool settled : {false, true}) {
    auto pathOf = [&](const Change& change) {
      return dir_ / (std::string(settled ? "settled " : "fresh ") + change.what);
    };
    for (const Change& change : changes) test_support::WriteBytes(pathOf(change), "KEY=old\n");
    // Past the time within which a file changed before it was read is read anew.
    if (settled) std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    for (const Change& change : changes) {
      ASSERT_EQ(Ask(pathOf(change), "KEY"), "old") << change.what;
      ASSERT_EQ(Ask(pathOf(change), "KEY"), "old") << change.what;
      change.make(pathOf(change));
      EXPECT_EQ(Ask(pathOf(change), "KEY"), change.expected)
          << change.what << (settled ? ", settled" : ", fresh");
    }
  }
}

}  // namespace
