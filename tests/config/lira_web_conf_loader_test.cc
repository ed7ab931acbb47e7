#include "config/lira_web_conf_loader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "config/error_log.h"
#include "tests/support/current_dir_guard.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using namespace config;

namespace {

using test_support::ReadWholeFile;
using test_support::WriteBytes;

// "ファイルConf\liraweb.confがみつかりません"
const std::string kMissingConfMessage =
    "\x83\x74\x83\x40\x83\x43\x83\x8b"
    "Conf\\liraweb.conf"
    "\x82\xaa\x82\xdd\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1";

const std::string kFullConf =
    "DB_ALIAS=catalog\r\nEXEC_NAME=liraweb\r\nQUERY_PATH=sql\r\nHTML_PATH=tpl\\\r\n"
    "LIST_MAX=15\r\nKINTAI=9\r\nABS_PATH=1\r\nAC_LIMIT=8\r\n";

std::vector<std::string> keysAsked;

const char* RecordingLibrary(const char* path, const char* key) {
  keysAsked.push_back(key);
  return _GetConfValue(path, key);
}

class LoadLiraWebConfTest : public ::testing::Test {
 protected:
  test_support::TempDir dir_{"config_test_"};
  test_support::CurrentDirGuard inDir_{dir_.Path()};
};

TEST_F(LoadLiraWebConfTest, ConfInTheCurrentDirectoryComesFirst) {
  WriteBytes("liraweb.conf", "DB_ALIAS=here\n");
  std::filesystem::create_directory("Conf");
  WriteBytes("Conf/liraweb.conf", "DB_ALIAS=below\n");
  auto conf = LoadLiraWebConf("liraweb.conf");
  EXPECT_EQ(conf->ConfFileName(), "liraweb.conf");
  std::string alias;
  conf->GetString("DB_ALIAS", alias);
  EXPECT_EQ(alias, "here");
}

TEST_F(LoadLiraWebConfTest, ConfOnlyInTheConfFolderIsUsedWithoutALogEntry) {
  std::filesystem::create_directory("Conf");
  WriteBytes("Conf/liraweb.conf", kFullConf);
  keysAsked.clear();
  auto conf = LoadLiraWebConf("liraweb.conf", &RecordingLibrary);
  EXPECT_EQ(conf->ConfFileName(), "Conf\\liraweb.conf");
  std::vector<std::string> order = {"DB_ALIAS", "EXEC_NAME", "QUERY_PATH", "HTML_PATH",
                                    "LIST_MAX", "KINTAI",    "ABS_PATH",   "AC_LIMIT"};
  EXPECT_EQ(keysAsked, order);
  std::string alias, execName, queryPath, htmlPath;
  std::int32_t listMax = 0, absPath = 0, acLimit = 0;
  char kintai = 0;
  conf->GetString("DB_ALIAS", alias);
  conf->GetString("EXEC_NAME", execName);
  conf->GetString("QUERY_PATH", queryPath);
  conf->GetString("HTML_PATH", htmlPath);
  conf->GetInteger("LIST_MAX", listMax);
  conf->GetChar("KINTAI", kintai);
  conf->GetInteger("ABS_PATH", absPath);
  conf->GetInteger("AC_LIMIT", acLimit);
  EXPECT_EQ(alias, "catalog");
  EXPECT_EQ(execName, "liraweb");
  EXPECT_EQ(queryPath, "sql\\");
  EXPECT_EQ(htmlPath, "tpl\\");
  EXPECT_EQ(listMax, 15);
  EXPECT_EQ(kintai, '9');
  EXPECT_EQ(absPath, 1);
  EXPECT_EQ(acLimit, 8);
  EXPECT_FALSE(std::filesystem::exists("Error.txt"));
}

TEST_F(LoadLiraWebConfTest, ConfMissingEverywhereIsLoggedAndLoadingGoesOn) {
  auto conf = LoadLiraWebConf("liraweb.conf");
  EXPECT_EQ(conf->ConfFileName(), "Conf\\liraweb.conf");
  std::string log = ReadWholeFile("Error.txt");
  ASSERT_EQ(log.rfind(std::string(kErrorLogBanner), 0), 0u) << log;
  std::string entry = log.substr(kErrorLogBanner.size());
  std::string tail = ",Configuration," + kMissingConfMessage + "\n";
  ASSERT_GE(entry.size(), tail.size());
  EXPECT_EQ(entry.substr(entry.size() - tail.size()), tail);
  EXPECT_EQ(entry.find('\n'), entry.size() - 1);
  // The library answers nothing for the missing file: texts empty, integers fall back.
  std::string alias = "unset";
  std::int32_t listMax = 0;
  char kintai = 'u';
  conf->GetString("DB_ALIAS", alias);
  conf->GetInteger("LIST_MAX", listMax);
  conf->GetChar("KINTAI", kintai);
  EXPECT_EQ(alias, "");
  EXPECT_EQ(listMax, 20);
  EXPECT_EQ(kintai, '\0');
}

TEST_F(LoadLiraWebConfTest, PathWithABackslashTrailByteReadsTheRightFile) {
  // 表 is 0x95 0x5C. Cut at the 0x5C, the path would name the folder "\x95" instead.
  std::filesystem::create_directory("\x95\x5C");
  std::filesystem::create_directory("\x95");
  WriteBytes("\x95\x5C/liraweb.conf", "DB_ALIAS=right\n");
  WriteBytes("\x95/liraweb.conf", "DB_ALIAS=wrong\n");
  KVLiraWebConf conf("\x95\x5C\\liraweb.conf");
  conf.ReadValue("DB_ALIAS");
  std::string alias;
  conf.GetString("DB_ALIAS", alias);
  EXPECT_EQ(alias, "right");
}

}  // namespace
