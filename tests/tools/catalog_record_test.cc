#include "tools/catalog_record.h"

#include <gtest/gtest.h>

#include <vector>

#include "tools/catalog_error.h"

using namespace tools;

namespace {

// A good line; each case below replaces one column.
std::vector<std::string> GoodColumns() {
  return {"100001",  "title",   "TITLE", "author", "AUTHOR", "publisher", "978-4-10-101013-7",
          "subject", "913.6/N", "430",   "1952",   "326",    "16cm",      "contents",
          "shelf",   "0",       "",      "",       "",       ""};
}

std::string Join(const std::vector<std::string>& columns) {
  std::string line;
  for (std::size_t i = 0; i < columns.size(); ++i) line += (i ? "\t" : "") + columns[i];
  return line;
}

std::string ProblemWith(std::size_t column, const std::string& value) {
  std::vector<std::string> columns = GoodColumns();
  columns[column] = value;
  try {
    ParseRecord(Join(columns));
  } catch (const ECatalogError& e) {
    return e.Message();
  }
  return "";
}

TEST(CatalogRecordTest, BadColumnsAreNamedWithTheirFault) {
  struct Case {
    std::size_t column;
    const char* value;
    const char* problem;
  } cases[] = {
      {0, "", "book_id: is empty"},
      {0, "10 01", "book_id: '10 01' may hold only letters, digits, - and _"},
      {1, "", "title: is empty"},
      {6, "978-4-10-101013-8", "isbn: '978-4-10-101013-8': the check digit should be 7"},
      {9, "1,500", "price: '1,500' is not a whole number"},
      {10, "-1952", "year: '-1952' is not a whole number"},
      {11, "1234567890", "pages: '1234567890' is too large"},
      {17, "0", "attach_count: 0 counts as attachments; leave it empty for none"},
      {19, "2025-02-30", "due_date: '2025-02-30' is not a date YYYY-MM-DD"},
      {19, "2025-07-01", "due_date: is given for a book that is not lent out"},
  };
  for (const Case& c : cases) EXPECT_EQ(ProblemWith(c.column, c.value), c.problem) << c.value;
}

TEST(CatalogRecordTest, WrongColumnCountIsReported) {
  std::vector<std::string> columns = GoodColumns();
  columns.pop_back();
  EXPECT_THROW(
      {
        try {
          ParseRecord(Join(columns));
        } catch (const ECatalogError& e) {
          EXPECT_EQ(e.Message(), "expected 20 tab-separated columns, found 19");
          throw;
        }
      },
      ECatalogError);
}

TEST(CatalogRecordTest, EmptyValuesReadAsNoValueAndLoanClassZero) {
  std::vector<std::string> columns = GoodColumns();
  for (std::size_t i : {6u, 9u, 10u, 11u, 15u}) columns[i] = "";
  CatalogRecord r = ParseRecord(Join(columns));
  EXPECT_EQ(r.isbn, "");
  EXPECT_FALSE(r.price.has_value());
  EXPECT_FALSE(r.year.has_value());
  EXPECT_FALSE(r.pages.has_value());
  EXPECT_EQ(r.loanClass, "0");
}

TEST(CatalogRecordTest, FormatRecordReadsBackTheSameLine) {
  std::vector<std::string> columns = GoodColumns();
  columns[17] = "2";
  columns[18] = "2010000001";
  columns[19] = "2024-02-29";
  std::string line = Join(columns);
  EXPECT_EQ(FormatRecord(ParseRecord(line)), line);
}

}  // namespace
