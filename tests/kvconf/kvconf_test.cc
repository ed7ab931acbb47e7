#include "kvconf/kvconf.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

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

// The format read the plain way, line by line for each key, as the reference the
// library's answers are compared with.
std::optional<std::string> ScannedValue(const std::string& content, const std::string& key) {
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    std::size_t next = end == std::string::npos ? content.size() : end + 1;
    std::string line = content.substr(start, next - start);
    start = next;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r' && end != std::string::npos) line.pop_back();
    if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[') continue;
    std::size_t equals = line.find('=');
    if (equals != std::string::npos && line.substr(0, equals) == key) {
      return line.substr(equals + 1);
    }
  }
  return std::nullopt;
}

// Files of lines made of a few keys, values, comments, sections and line ends in random
// order: every key answers as the plain reading, whether the file was just written
// (read at every ask) or settled (its values kept from one ask to the next).
TEST_F(KvconfTest, AnswersAgreeWithAPlainReadingOfRandomFiles) {
  const std::vector<std::string> keys = {"A", "B", "AB", "", "a", " A", "A ", "#A", "[A", "A\r"};
  const std::vector<std::string> pieces = {"A", "B", "=", "x",        " ",        "\r", "#",
                                           ";", "[", "]", "\x95\x5C", "\x82\xA0", "=="};
  std::mt19937 random(20261209);
  std::vector<std::pair<std::string, std::string>> files;  // path, content
  for (int i = 0; i < 24; ++i) {
    std::string content;
    const int lines = static_cast<int>(random() % 12);
    for (int line = 0; line < lines; ++line) {
      const int length = static_cast<int>(random() % 6);
      for (int j = 0; j < length; ++j) content += pieces[random() % pieces.size()];
      if (line + 1 < lines || random() % 2 == 0) content += random() % 2 ? "\r\n" : "\n";
    }
    const std::string path = dir_ / ("random" + std::to_string(i) + ".conf");
    test_support::WriteBytes(path, content);
    files.emplace_back(path, content);
  }
  auto checkAll = [&](const char* state) {
    for (const auto& [path, content] : files) {
      for (const std::string& key : keys) {
        EXPECT_EQ(Ask(path, key.c_str()), ScannedValue(content, key))
            << state << ": key \"" << key << "\" in \"" << content << "\"";
      }
    }
  };
  checkAll("fresh");
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  checkAll("settled, first ask");
  checkAll("settled, kept");
}

}  // namespace
