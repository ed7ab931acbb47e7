// End-to-end: what an unlucky or hostile request meets: a search that would run for
// hours, a count the database cannot give, a NUL byte in a search text, a Host header
// holding markup, an error log that cannot be written, huge messages, and the setting
// that keeps the database's messages from visitors.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "module/japanese_texts.h"
#include "platform/japanese_texts.h"
#include "tests/module/installation.h"
#include "tests/module/list_pages.h"

namespace module_e2e {
namespace {

std::string DatabaseErrorPage(std::string_view message) {
  return Page(ErrorPage(kDatabaseErrorName, message));
}

// " は整数ではありません", the tail of the message for a RENT that is no number.
const std::string kNotAnInteger =
    " \x82\xcd\x90\xae\x90\x94\x82\xc5\x82\xcd\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1";

TEST(HostileDay, DatabaseWorkStopsAtTheTimeLimitOfTheAlias) {
  Installation site;
  site.AddBooks({Titled("1", "ab")});
  site.Write("dbengine.conf", "[catalogue]\nDRIVER=SQLITE\nPATH=catalog.db\nTIME_LIMIT=1\n");
  // Counts to ten thousand million before the first row: hours without a limit.
  site.Write("sql/Find.sql",
             "WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 1E10)\r\n"
             "SELECT * FROM BOOKS, (SELECT MAX(I) AS M FROM N)\r\n");
  EXPECT_EQ(site.Get("/list", "BOOKNAME=ab&PAGENUM=0").output,
            DatabaseErrorPage(platform::texts::kDbeTimeLimitExceeded));
  EXPECT_EQ(site.LogEntries(), std::vector<LogEntry>{});
}

TEST(HostileDay, CountTheDatabaseCannotGiveIsADatabaseFailure) {
  Installation site;
  site.AddBooks({Titled("1", "ab"), Titled("2", "ab"), Titled("3", "ab")});
  site.Write("liraweb.conf", ConfWith("LIST_MAX", "1"));
  // The third row fails (integer overflow); the first page reads only two rows, but
  // counting reads them all.
  site.Write("sql/Find.sql",
             "SELECT * FROM (SELECT * FROM BOOKS\r\n"
             "WHERE abs(CASE WHEN rowid > 2 THEN -9223372036854775808 ELSE 0 END) >= 0)\r\n");
  EXPECT_EQ(site.Get("/list", "BOOKNAME=ab&PAGENUM=0").output,
            DatabaseErrorPage(module::texts::kRowCountFailed));
  EXPECT_EQ(site.LogEntries(), std::vector<LogEntry>{});
}

TEST(HostileDay, NulByteInASearchTextRunsNoStatement) {
  Installation site;
  site.Remove("dbengine.conf");  // reaching the database would fail differently
  for (const char* query : {"BOOKNAME=a%00b&PAGENUM=0",
                            "CHOSYA=x&KENMEI=%00&PAGENUM=0&ORDER=MS_BOOKID&ORDERKIND=DESC"}) {
    EXPECT_EQ(site.Get("/list", query).output, DatabaseErrorPage(module::texts::kNulInSearchText))
        << query;
  }
  EXPECT_EQ(site.LogEntries(), std::vector<LogEntry>{});
}

TEST(HostileDay, HostAndScriptNameCannotEndTheLinkAttribute) {
  Installation site;
  site.AddBooks({Titled("1", "ab")});
  site.Write("liraweb.conf", ConfWith("ABS_PATH", "0"));
  const std::string url = "http://a&quot;&gt;&lt;script&gt;/cgi-bin/x&#39;y&amp;z";
  auto result = site.Run({{"PATH_INFO", "/list"},
                          {"QUERY_STRING", "BOOKNAME=ab&PAGENUM=0"},
                          {"HTTP_HOST", "a\"><script>"},
                          {"SCRIPT_NAME", "/cgi-bin/x'y&z"}});
  EXPECT_EQ(result.output, Page(ListPage(1, Condition(kLabelBookName, "ab"),
                                         TitledRow(1, "1", "ab", "ab", url), "", "", url)));
}

TEST(HostileDay, EngineMessagesAreKeptFromVisitorsWhenTheSettingSaysSo) {
  Installation site;
  site.AddBooks({Titled("B1", "ab")});
  site.Write("sql/Find.sql", "SELECT * FROM NOPE\r\n");
  site.Write("sql/Prop.sql", "SELECT * FROM NOPE WHERE MS_BOOKID = :BOOKID");
  const std::string engineMessage = "no such table: NOPE";
  site.Write("liraweb.conf", std::string(kDefaultConf) + "SHOW_ENGINE_MESSAGES=0\r\n");
  EXPECT_EQ(site.Get("/list", "BOOKNAME=ab&PAGENUM=0").output,
            DatabaseErrorPage(module::texts::kCatalogueUnavailable));
  EXPECT_EQ(site.Get("/data", "ID=B1&RENT=0").output,
            ServerError("EDatabaseError", module::texts::kCatalogueUnavailable));
  EXPECT_EQ(site.LogEntries(),
            (std::vector<LogEntry>{{"ListView", engineMessage}, {"PropertyView", engineMessage}}));
  // Any other value shows the database's own message, as no setting at all does.
  site.Remove("Error.txt");
  site.Write("liraweb.conf", std::string(kDefaultConf) + "SHOW_ENGINE_MESSAGES=1\r\n");
  EXPECT_EQ(site.Get("/list", "BOOKNAME=ab&PAGENUM=0").output, DatabaseErrorPage(engineMessage));
  EXPECT_EQ(site.Get("/data", "ID=B1&RENT=0").output, ServerError("EDBEngineError", engineMessage));
  EXPECT_EQ(site.LogEntries(), (std::vector<LogEntry>{{"PropertyView", engineMessage}}));
}

TEST(HostileDay, RecordsThatCannotReachTheLogGoToStandardErrorAndTheRequestGoesOn) {
  Installation site;
  site.AddBooks({Titled("1", "ab")});
  // A folder in the log's place: not even root can write a record there.
  std::filesystem::create_directory(site.PathOf("Error.txt"));
  const std::string reason =
      "\x83\x74\x83\x40\x83\x43\x83\x8b Error.txt \x82\xf0\x8d\xec\x90\xac"
      "\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1: ";  // を作成できません
  auto run = [&](std::string_view pathInfo, std::string_view query) {
    test_support::ChildRun child;
    child.program = LIRAWEB_PROGRAM;
    child.workingDirectory = site.PathOf("");
    child.variables = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                       {"REQUEST_METHOD", "GET"},
                       {"HTTP_HOST", "lib.example"},
                       {"SCRIPT_NAME", "/cgi-bin/liraweb"},
                       {"PATH_INFO", std::string(pathInfo)},
                       {"QUERY_STRING", std::string(query)},
                       {"DBENGINE_CONFIG", site.PathOf("dbengine.conf")}};
    return test_support::RunChild(child);
  };
  auto expectRecord = [&](const std::string& errors, const std::string& record) {
    EXPECT_TRUE(errors.starts_with(reason)) << errors;
    EXPECT_TRUE(errors.ends_with(record)) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  };
  // A search without a page number logs one; it is served all the same.
  auto search = run("/list", "BOOKNAME=ab");
  EXPECT_EQ(search.output,
            Page(ListPage(1, Condition(kLabelBookName, "ab"), TitledRow(1, "1", "ab", "ab"))));
  expectRecord(search.errors, ",PageNumber,0\n");
  // A failing detail page answers with its own error, not with the log's.
  site.Write("sql/Prop.sql", "SELECT * FROM NOPE WHERE MS_BOOKID = :BOOKID");
  auto detail = run("/data", "ID=1&RENT=0");
  EXPECT_EQ(detail.output, ServerError("EDBEngineError", "no such table: NOPE"));
  expectRecord(detail.errors, ",PropertyView,\"no such table: NOPE\"\n");
  EXPECT_EQ(detail.exitCode, 0);
}

TEST(HostileDay, HugeMessageIsCutInTheStatusLineAndInTheLogButNotOnThePage) {
  Installation site;
  site.AddBooks({{{"MS_BOOKID", "B1"}}});
  // The message is "'" RENT "'" and its tail; a double-byte character (あ) straddles
  // byte 1024 and another byte 4096, so both cuts fall before them.
  const std::string hiragana = "\x82\xa0";
  const std::string rent = std::string(1022, 'x') + hiragana + std::string(3070, 'y') + hiragana +
                           std::string(90000, 'z');
  const std::string message = "'" + rent + "'" + kNotAnInteger;
  ASSERT_EQ(message.substr(1023, 2), hiragana);
  ASSERT_EQ(message.substr(4095, 2), hiragana);
  const std::string page = "&#39;" + rent + "&#39;" + kNotAnInteger;
  EXPECT_EQ(site.Get("/data", "ID=B1&RENT=" + rent).output,
            test_support::ServerError("EConvertError", message.substr(0, 1023), page));
  // "…（以下略、全 94118 バイト）"
  const std::string cutMark = "\x81\x63\x81\x69\x88\xc8\x89\xba\x97\xaa\x81\x41\x91\x53 " +
                              std::to_string(message.size()) + " \x83\x6f\x83\x43\x83\x67\x81\x6a";
  const std::string logged = message.substr(0, 4095) + cutMark;
  EXPECT_EQ(site.LogEntries(),
            (std::vector<LogEntry>{{"ReplaceTag", logged}, {"PropertyView", logged}}));
}

}  // namespace
}  // namespace module_e2e
