// End-to-end: the top page, which every path but "/list" and "/data" serves, and how the
// settings file is found.
#include <gtest/gtest.h>

#include "tests/module/installation.h"

namespace module_e2e {
namespace {

// The default top template expanded with no request state: every request-field tag
// and the error texts empty, no search time, a back link without a target, and an
// empty condition table.
const std::string kTopPage =
    "TOP [][][][][][][][][]\r\n[][][0][][][]\r\n"
    "<a href=\"\">\x8c\x9f\x8d\xf5\x89\xe6\x96\xca\x82\xc9\x96\xdf\x82\xe9</a>\r\n"
    "<table border=\"0\">\r\n</table>\r\n";

TEST(TopPage, EveryOtherPathAndMethodServesIt) {
  Installation site;
  struct Case {
    const char* path;  // empty: no PATH_INFO at all
    const char* method;
  } cases[] = {{"", "GET"},       {"/", "GET"},      {"/", "POST"},        {"/top", "HEAD"},
               {"/list/", "GET"}, {"/LISTS", "GET"}, {"/data2", "DELETE"}, {"/", "brew"}};
  for (const auto& c : cases) {
    auto result = site.Run({{"PATH_INFO", c.path},
                            {"REQUEST_METHOD", c.method},
                            {"QUERY_STRING", "BNAME=x&ID=1&BOOKNAME=abc"}});
    EXPECT_EQ(result.output, Page(kTopPage)) << c.path << " " << c.method;
  }
  EXPECT_EQ(site.LogEntries(), std::vector<LogEntry>{});
}

TEST(TopPage, SettingsFileIsLookedForHereThenInConf) {
  const std::string rootTemplate = "ROOT <#BOOKNAME>.\r\n", rootTop = "ROOT .\r\n";
  const std::string confMissing =
      "\x83\x74\x83\x40\x83\x43\x83\x8b"
      "Conf\\liraweb.conf\x82\xaa\x82\xdd\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
  struct Case {
    const char* name;
    const char* confPath;  // where liraweb.conf is written; nullptr: nowhere
    std::string conf;
    std::string page;
    std::vector<LogEntry> log;
  } cases[] = {
      {"only in Conf", "Conf/liraweb.conf", std::string(kDefaultConf), kTopPage, {}},
      // Without a settings file the templates are read from the current folder.
      {"in neither place", nullptr, "", rootTop, {{"Configuration", confMissing}}},
      {"empty HTML_PATH", "liraweb.conf", "HTML_PATH=\r\n", rootTop, {}},
      // The folder here wins over Conf.
      {"in both places", "Conf/liraweb.conf", "HTML_PATH=nowhere\r\n", kTopPage, {}},
  };
  for (const auto& c : cases) {
    Installation site;
    site.Write("top.html", rootTemplate);
    if (std::string(c.name) != "in both places") site.Remove("liraweb.conf");
    if (c.confPath) site.Write(c.confPath, c.conf);
    EXPECT_EQ(site.Get("/", "").output, Page(c.page)) << c.name;
    EXPECT_EQ(site.LogEntries(), c.log) << c.name;
  }
}

TEST(TopPage, MissingTemplateIsA500ResponseAndADefaultActionEntry) {
  Installation site;
  site.Remove("html/top.html");
  // The path keeps the program's own backslash separator.
  const std::string message =
      "\x83\x74\x83\x40\x83\x43\x83\x8b html\\top.html "
      "\x82\xcd\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1";
  EXPECT_EQ(site.Get("", "").output, ServerError("EFOpenError", message));
  EXPECT_EQ(site.LogEntries(), (std::vector<LogEntry>{{"DefaultAction", message}}));
}

}  // namespace
}  // namespace module_e2e
