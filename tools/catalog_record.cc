#include "tools/catalog_record.h"

#include <vector>

#include "tools/catalog_error.h"
#include "tools/isbn.h"

namespace tools {

namespace {

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

[[noreturn]] void Fail(std::string_view column, const std::string& problem) {
  throw ECatalogError(std::string(column) + ": " + problem);
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Empty text is no value; anything else must be a whole number of at most nine digits,
// so that it fits a 32-bit column in either database.
std::optional<int> ParseCount(std::string_view column, std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (text.size() > 9) Fail(column, "'" + std::string(text) + "' is too large");
  int value = 0;
  for (char c : text) {
    if (!IsAsciiDigit(c)) Fail(column, "'" + std::string(text) + "' is not a whole number");
    value = value * 10 + (c - '0');
  }
  return value;
}

void CheckBookId(std::string_view text) {
  if (text.empty()) Fail("book_id", "is empty");
  if (text.size() > 20) Fail("book_id", "'" + std::string(text) + "' is longer than 20");
  for (char c : text) {
    bool ok =
        IsAsciiDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_';
    if (!ok) Fail("book_id", "'" + std::string(text) + "' may hold only letters, digits, - and _");
  }
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

void CheckDate(std::string_view column, std::string_view text) {
  auto number = [&](std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  bool shape = text.size() == 10 && text[4] == '-' && text[7] == '-';
  for (std::size_t i = 0; shape && i < text.size(); ++i) {
    if (i != 4 && i != 7 && !IsAsciiDigit(text[i])) shape = false;
  }
  if (shape) {
    int month = number(5, 2);
    int day = number(8, 2);
    if (month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(number(0, 4), month)) return;
  }
  Fail(column, "'" + std::string(text) + "' is not a date YYYY-MM-DD");
}

}  // namespace

CatalogRecord ParseRecord(std::string_view line) {
  std::vector<std::string_view> f = SplitTabs(line);
  if (f.size() != kCatalogColumns.size())
    throw ECatalogError("expected " + std::to_string(kCatalogColumns.size()) +
                        " tab-separated columns, found " + std::to_string(f.size()));
  CatalogRecord r;
  CheckBookId(f[0]);
  r.bookId = f[0];
  if (f[1].empty()) Fail("title", "is empty");
  r.title = f[1];
  r.titleKana = f[2];
  r.author = f[3];
  r.authorKana = f[4];
  r.publisher = f[5];
  if (!f[6].empty()) {
    std::string problem = Problem(f[6]);
    if (!problem.empty()) Fail("isbn", "'" + std::string(f[6]) + "': " + problem);
  }
  r.isbn = f[6];
  r.subject = f[7];
  r.callNumber = f[8];
  r.price = ParseCount("price", f[9]);
  r.year = ParseCount("year", f[10]);
  r.pages = ParseCount("pages", f[11]);
  r.size = f[12];
  r.contents = f[13];
  r.location = f[14];
  // An empty loan class would read as the NUL byte, which an installation without a
  // KINTAI setting takes for "not for loan"; "0" is the ordinary lending class.
  r.loanClass = f[15].empty() ? std::string("0") : std::string(f[15]);
  r.attachMark = f[16];
  r.attachCount = ParseCount("attach_count", f[17]);
  // Any text in the attachment count marks a book with attachments, 0 included, so
  // "none" must be written as an empty column.
  if (r.attachCount == 0) Fail("attach_count", "0 counts as attachments; leave it empty for none");
  r.loanUser = f[18];
  r.dueDate = f[19];
  if (!r.dueDate.empty()) {
    CheckDate("due_date", r.dueDate);
    if (r.loanUser.empty()) Fail("due_date", "is given for a book that is not lent out");
  }
  return r;
}

std::string FormatRecord(const CatalogRecord& r) {
  auto count = [](const std::optional<int>& value) {
    return value ? std::to_string(*value) : std::string();
  };
  const std::string fields[] = {
      r.bookId,   r.title,    r.titleKana,  r.author,       r.authorKana,  r.publisher,
      r.isbn,     r.subject,  r.callNumber, count(r.price), count(r.year), count(r.pages),
      r.size,     r.contents, r.location,   r.loanClass,    r.attachMark,  count(r.attachCount),
      r.loanUser, r.dueDate};
  std::string line;
  for (const std::string& field : fields) {
    if (&field != &fields[0]) line += '\t';
    line += field;
  }
  return line;
}

std::string HeaderLine() {
  std::string line;
  for (std::string_view column : kCatalogColumns) {
    if (!line.empty()) line += '\t';
    line += column;
  }
  return line;
}

}  // namespace tools
