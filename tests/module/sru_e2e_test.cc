// End-to-end: "/sru" reached without a web server in between, for what lighttpd would
// refuse before the program sees it, and the books of a CQL "or" against a scan.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/module/installation.h"
#include "tests/support/fastcgi_client.h"
#include "tests/support/files.h"

namespace module_e2e {
namespace {

TEST(Sru, ANulByteEndsNoQueryEarlyAndOrFindsEitherBook) {
  Installation site;
  site.AddBooks({{{"MS_BOOKID", "1"}, {"MS_SYOMEI", "abc"}},
                 {{"MS_BOOKID", "2"}, {"MS_SYUPAN", "xyz"}},
                 {{"MS_BOOKID", "3"}, {"MS_SYOMEI", "a"}, {"MS_SYUPAN", "b"}}});
  struct Case {
    const char* name;
    const char* query;
    const char* expected;
  } cases[] = {
      // The parser reads a C string: "title=a" alone would find books 1 and 3.
      {"NUL", "title%3Da%00%20or%20title%3Dq",
       "<diag:uri>info:srw/diagnostic/1/10</diag:uri>\n<diag:details>NUL</diag:details>"},
      {"or", "title%3Dbc%20or%20publisher%3Dxyz", "<srw:numberOfRecords>2</srw:numberOfRecords>"},
      {"and", "title%3Da%20and%20publisher%3Db", "<srw:numberOfRecords>1</srw:numberOfRecords>"},
  };
  for (const Case& c : cases) {
    const auto result =
        site.Get("/sru", std::string("version=1.2&operation=searchRetrieve&query=") + c.query);
    EXPECT_NE(result.output.find(c.expected), std::string::npos) << c.name << "\n" << result.output;
  }
}

// A CGI run of an SRU search loads the CQL parser and no library of YAZ's shared build:
// YAZ, libxml2 and GnuTLS with their dependencies cost every such request several ms.
TEST(Sru, ACgiSearchLoadsTheParserWithoutYazsSharedLibraries) {
  Installation site;
  site.AddBooks({{{"MS_BOOKID", "1"}, {"MS_SYOMEI", "abc"}}});
  const auto result = site.Run({{"PATH_INFO", "/sru"},
                                {"QUERY_STRING", "version=1.2&operation=searchRetrieve&query=abc"},
                                {"LD_DEBUG", "files"},
                                {"LD_DEBUG_OUTPUT", site.PathOf("loader")}});
  EXPECT_NE(result.output.find("<srw:numberOfRecords>1<"), std::string::npos) << result.output;
  std::string loaded;
  for (const auto& entry : std::filesystem::directory_iterator(site.PathOf(""))) {
    if (entry.path().filename().string().starts_with("loader."))
      loaded += test_support::ReadWholeFile(entry.path());
  }
  EXPECT_NE(loaded.find("libliraweb_cql.so"), std::string::npos) << loaded;
  for (const char* library : {"libyaz", "libxml2", "libgnutls", "libicu"})
    EXPECT_EQ(loaded.find(library), std::string::npos) << library << "\n" << loaded;
}

// The CQL plug-in is loaded by a FastCGI process before its first request, so that no
// SRU search pays for it; its SRU answer is the CGI one.
TEST(Sru, AFastCGIProcessLoadsTheParserBeforeItsFirstRequest) {
  Installation site;
  site.AddBooks({{{"MS_BOOKID", "1"}, {"MS_SYOMEI", "abc"}}});
  const std::map<std::string, std::string> variables = {
      {"SERVER_PROTOCOL", "HTTP/1.1"},
      {"REQUEST_METHOD", "GET"},
      {"HTTP_HOST", "lib.example"},
      {"SCRIPT_NAME", "/cgi-bin/liraweb"},
      {"DBENGINE_CONFIG", site.PathOf("dbengine.conf")}};
  test_support::FastCGIProcess process(LIRAWEB_PROGRAM, site.PathOf(""), {});
  process.Request(variables);  // the top page: the server has started
  const std::string maps =
      test_support::ReadWholeFile("/proc/" + std::to_string(process.Pid()) + "/maps");
  EXPECT_NE(maps.find("libliraweb_cql.so"), std::string::npos);
  const std::string query = "version=1.2&operation=searchRetrieve&query=title%3Dabc";
  auto sru = variables;
  sru["PATH_INFO"] = "/sru";
  sru["QUERY_STRING"] = query;
  EXPECT_EQ(process.Request(sru).output, site.Get("/sru", query).output);
}

}  // namespace
}  // namespace module_e2e
