// End-to-end: "/sru" reached without a web server in between, for what lighttpd would
// refuse before the program sees it, and the books of a CQL "or" against a scan.
#include <gtest/gtest.h>

#include "tests/module/installation.h"

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

}  // namespace
}  // namespace module_e2e
