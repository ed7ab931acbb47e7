#include "config/kv_lira_web_conf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace config;

namespace {

// Stands in for the configuration library: answers from a table and records each call.
struct FakeLibrary {
  static inline std::map<std::string, std::string> answers;  // a key not in it answers null
  static inline std::vector<std::pair<std::string, std::string>> calls;  // path, key

  static const char* GetConfValue(const char* path, const char* key) {
    calls.emplace_back(path, key);
    auto found = answers.find(key);
    return found == answers.end() ? nullptr : found->second.c_str();
  }
};

class KVLiraWebConfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeLibrary::answers.clear();
    FakeLibrary::calls.clear();
  }

  // A new reader that has read key, which the library answers with answer (null if none).
  static std::unique_ptr<KVLiraWebConf> ReaderAfterReading(
      const char* key, const std::optional<std::string>& answer) {
    FakeLibrary::answers.clear();
    if (answer) FakeLibrary::answers[key] = *answer;
    auto conf = std::make_unique<KVLiraWebConf>("liraweb.conf", &FakeLibrary::GetConfValue);
    conf->ReadValue(key);
    return conf;
  }
};

// Every value of the reader, fetched through the getters.
struct Values {
  std::string dbAlias, execName, queryPath, htmlPath;
  char kintai = 'u';
  std::int32_t listMax = -99, absPath = -99, acLimit = -99;

  explicit Values(const KVConfBase& conf) {
    conf.GetString("DB_ALIAS", dbAlias);
    conf.GetString("EXEC_NAME", execName);
    conf.GetString("QUERY_PATH", queryPath);
    conf.GetString("HTML_PATH", htmlPath);
    conf.GetChar("KINTAI", kintai);
    conf.GetInteger("LIST_MAX", listMax);
    conf.GetInteger("ABS_PATH", absPath);
    conf.GetInteger("AC_LIMIT", acLimit);
  }
  bool operator==(const Values&) const = default;
};

TEST_F(KVLiraWebConfTest, StartsWithTheInitialValues) {
  KVLiraWebConf conf("liraweb.conf", &FakeLibrary::GetConfValue);
  Values values(conf);
  EXPECT_EQ(values.dbAlias, "lirawin");
  EXPECT_EQ(values.execName, "liraweb.exe");
  EXPECT_EQ(values.queryPath, "");
  EXPECT_EQ(values.htmlPath, "");
  EXPECT_EQ(values.kintai, '3');
  EXPECT_EQ(values.listMax, 20);
  EXPECT_EQ(values.absPath, 0);
  EXPECT_EQ(values.acLimit, 0);
  EXPECT_TRUE(FakeLibrary::calls.empty());
}

TEST_F(KVLiraWebConfTest, IntegerKeysConvertOrFallBack) {
  struct Case {
    const char* key;
    std::optional<std::string> answer;
    std::int32_t expected;
  } cases[] = {
      {"LIST_MAX", "abc", 20},       {"LIST_MAX", "", 20},     {"LIST_MAX", "12 ", 20},
      {"LIST_MAX", {}, 20},          {"LIST_MAX", "-5", -5},   {"LIST_MAX", "0", 0},
      {"LIST_MAX", "$1F", 31},       {"LIST_MAX", "0x1f", 31}, {"LIST_MAX", " 7", 7},
      {"ABS_PATH", "1", 1},          {"ABS_PATH", "yes", 0},   {"AC_LIMIT", "10", 10},
      {"AC_LIMIT", "2147483648", 0},
  };
  for (const Case& c : cases) {
    auto conf = ReaderAfterReading(c.key, c.answer);
    std::int32_t value = -99;
    conf->GetInteger(c.key, value);
    EXPECT_EQ(value, c.expected) << c.key << " = " << c.answer.value_or("(null)");
  }
}

TEST_F(KVLiraWebConfTest, TextAndCharacterKeysTakeTheAnswerAsItIs) {
  struct Case {
    const char* key;
    std::optional<std::string> answer;
    std::string expected;
  } cases[] = {
      {"HTML_PATH", "C:\\web\\tpl", "C:\\web\\tpl\\"},
      {"HTML_PATH", "C:\\web\\tpl\\", "C:\\web\\tpl\\"},
      {"HTML_PATH", "", ""},
      {"HTML_PATH", {}, ""},
      // The last byte alone decides: the trail byte of 表 (0x95 0x5C) counts as a backslash.
      {"QUERY_PATH", "sql\\\x95\x5C", "sql\\\x95\x5C"},
      {"QUERY_PATH", "sql", "sql\\"},
      {"DB_ALIAS", "", ""},
      {"DB_ALIAS", {}, ""},
      {"DB_ALIAS", " catalog ", " catalog "},
      {"EXEC_NAME", "liraweb", "liraweb"},
      {"KINTAI", "9X", "9"},
      {"KINTAI", "", std::string(1, '\0')},
      {"KINTAI", {}, std::string(1, '\0')},
  };
  for (const Case& c : cases) {
    auto conf = ReaderAfterReading(c.key, c.answer);
    std::string value = "untouched";
    if (std::string(c.key) == "KINTAI") {
      char kintai = 'u';
      conf->GetChar(c.key, kintai);
      value.assign(1, kintai);
    } else {
      conf->GetString(c.key, value);
    }
    EXPECT_EQ(value, c.expected) << c.key << " = " << c.answer.value_or("(null)");
  }
}

TEST_F(KVLiraWebConfTest, UnknownKeyAsksTheLibraryOnceAndChangesNothing) {
  FakeLibrary::answers = {{"db_alias", "other"}, {"DB_ALIAS", "ignored"}};
  KVLiraWebConf conf("Conf\\liraweb.conf", &FakeLibrary::GetConfValue);
  Values before(conf);
  conf.ReadValue("db_alias");
  conf.ReadValue("");
  EXPECT_EQ(Values(conf), before);
  // The library is given the path in the operating system's form.
  std::vector<std::pair<std::string, std::string>> expectedCalls = {
      {"Conf/liraweb.conf", "db_alias"}, {"Conf/liraweb.conf", ""}};
  EXPECT_EQ(FakeLibrary::calls, expectedCalls);
  EXPECT_EQ(conf.ConfFileName(), "Conf\\liraweb.conf");
}

TEST_F(KVLiraWebConfTest, GettersLeaveTheOutputAloneForOtherKeys) {
  KVLiraWebConf conf("liraweb.conf", &FakeLibrary::GetConfValue);
  std::string text = "keep";
  std::int32_t number = 7;
  char character = 'k';
  for (const char* key : {"db_alias", "LIST_MAX", "KINTAI", ""}) conf.GetString(key, text);
  for (const char* key : {"list_max", "DB_ALIAS", "KINTAI", ""}) conf.GetInteger(key, number);
  for (const char* key : {"kintai", "LIST_MAX", "DB_ALIAS", ""}) conf.GetChar(key, character);
  EXPECT_EQ(text, "keep");
  EXPECT_EQ(number, 7);
  EXPECT_EQ(character, 'k');
}

}  // namespace
