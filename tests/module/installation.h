// A complete installation of the program for one end-to-end test: its own folder with
// liraweb.conf, the four templates under html/, Find.sql and Prop.sql under sql/, the
// database engine's alias file and a SQLite catalogue whose text columns hold
// Shift_JIS bytes. The built program runs in that folder as a CGI child process.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/cgi_response.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace module_e2e {

// One book of the catalogue: column name to value; a column not given is empty text.
using Book = std::map<std::string, std::string>;

// One record of Error.txt without its date, which the parser only checks for form.
struct LogEntry {
  std::string label;
  std::string message;
  bool operator==(const LogEntry&) const = default;
  friend void PrintTo(const LogEntry& entry, std::ostream* out) {
    *out << "{" << entry.label << ", " << entry.message << "}";
  }
};

// The settings every test starts from; a test rewrites liraweb.conf for others.
inline constexpr std::string_view kDefaultConf =
    "DB_ALIAS=catalogue\r\nQUERY_PATH=sql\r\nHTML_PATH=html\r\nLIST_MAX=20\r\nKINTAI=9\r\n"
    "ABS_PATH=1\r\nAC_LIMIT=0\r\n";

// Templates that show every tag they are meant for between visible brackets.
inline constexpr std::string_view kListTemplate =
    "LIST <#TOTAL_FIND_COUNT>[<#total_find_count>][<#BOOK_ID>]\r\n<#QUERY_KEY_LIST>"
    "<#FIND_VALUE_LIST>[<#PRIOR_PAGE>][<#NEXT_PAGE>]\r\n<#BACK_TO_HOME>\r\n";
inline constexpr std::string_view kErrorTemplate =
    "ERROR <#ERR_NAME>\r\n<#ERR_MSG>\r\n<#BACK_TO_HOME>\r\n";
inline constexpr std::string_view kDetailTemplate =
    "DETAIL <#KASIDASI>\r\n<#BOOKID>|<#BOOKNAME>|<#SYOKANA>|<#CYOSYA>|<#CYOKANA>|<#SYUPAN>|"
    "<#ISBN>|<#NDC>|<#KENMEI>\r\n<#PRICE>|<#YEAR>|<#PAGE>|<#BOOKSIZE>|<#NAIYO>|<#WHEREABOUT>\r\n"
    "<#BACK_TO_HOME>\r\n";
inline constexpr std::string_view kTopTemplate =
    "TOP [<#BOOKID>][<#BOOKNAME>][<#SYOKANA>][<#CYOSYA>][<#CYOKANA>][<#SYUPAN>][<#ISBN>]"
    "[<#NDC>][<#KENMEI>]\r\n[<#ERR_NAME>][<#ERR_MSG>][<#SEARCH_TIME>][<#TABLE>][<#link x=1>]"
    "[<#NoSuchTag>]\r\n<#BACK_TO_HOME>\r\n<#QUERY_KEY_LIST>";

class Installation {
 public:
  // The folder with the default settings, templates and SQL files and an empty catalogue.
  Installation();

  // Path of a file of the installation.
  std::string PathOf(std::string_view relative) const { return folder_ / relative; }
  // Writes (or replaces) a file of the installation.
  void Write(std::string_view relative, std::string_view bytes) const;
  // Removes a file of the installation.
  void Remove(std::string_view relative) const;

  // Adds the books to the catalogue, in this order.
  void AddBooks(const std::vector<Book>& books) const;
  // Every row of the catalogue, each as its column values joined by "|", in key order:
  // what a test compares to see that the catalogue was not changed.
  std::string CatalogueDump() const;

  // Runs the program with a GET request.
  test_support::ChildResult Get(std::string_view pathInfo, std::string_view query) const;
  // Runs the program (the built one unless another file is named) with the variables
  // given on top of the usual ones (an empty value removes a variable) and the body as
  // standard input.
  test_support::ChildResult Run(const std::map<std::string, std::string>& variables,
                                std::string_view body = "",
                                std::string_view program = LIRAWEB_PROGRAM) const;

  // The records of Error.txt, after checking the banner and the form of every date.
  std::vector<LogEntry> LogEntries() const;

 private:
  test_support::TempDir folder_;
};

// The default liraweb.conf with the value of one key replaced.
std::string ConfWith(std::string_view key, std::string_view value);

using test_support::Page;
using test_support::ServerError;
// The whole 500 response for an exception whose message has no control characters, so
// that the status line carries it unchanged.
std::string ServerError(std::string_view className, std::string_view message);

// Checks that the response is a page holding only a number of seconds as the search
// time shows it: decimal, no exponent, at most three decimals (milliseconds).
void ExpectSecondsPage(const std::string& output);

}  // namespace module_e2e
