// One book of a catalogue file: the tab-separated line of the file format, checked and
// split into the values of the catalogue tables. docs/CATALOGUE.md describes the format.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tools {

// The columns of a catalogue file, in file order; the header line names them so.
inline constexpr std::array<std::string_view, 20> kCatalogColumns = {
    "book_id",    "title",       "title_kana",   "author",      "author_kana",
    "publisher",  "isbn",        "subject",      "call_number", "price",
    "year",       "pages",       "size",         "contents",    "location",
    "loan_class", "attach_mark", "attach_count", "loan_user",   "due_date"};

// Texts are bytes in the encoding of the line they came from (Shift_JIS once loaded).
struct CatalogRecord {
  std::string bookId;              // MS_BOOKID
  std::string title;               // MS_SYOMEI
  std::string titleKana;           // MS_SYOKANA
  std::string author;              // MS_CHOSYA
  std::string authorKana;          // MS_CHOKANA
  std::string publisher;           // MS_SYUPAN
  std::string isbn;                // MS_ISBN, as written (hyphens kept)
  std::string subject;             // MS_KENMEI
  std::string callNumber;          // MS_SEIKYU
  std::optional<int> price;        // MS_KINGAKU, yen
  std::optional<int> year;         // MS_SYUNEN
  std::optional<int> pages;        // MS_PAGE
  std::string size;                // MS_OOKISA
  std::string contents;            // MS_NAIYO
  std::string location;            // SY_SYOZAI
  std::string loanClass;           // MS_KKUBUN, "0" when the file leaves it empty
  std::string attachMark;          // MS_TMARK
  std::optional<int> attachCount;  // MS_TFMSUU
  std::string loanUser;            // KA_USERID; a loan row exists when not empty
  std::string dueDate;             // KA_KIGEN, YYYY-MM-DD or empty
};

// Answers the record of one line (without its line break). Raises ECatalogError naming
// the column and the fault: wrong column count, empty key or title, a bad number, a bad
// ISBN check digit, a bad date.
CatalogRecord ParseRecord(std::string_view line);

// Answers the line of a record (without a line break); ParseRecord reads it back.
std::string FormatRecord(const CatalogRecord& record);

// Answers the header line of the file format (without a line break).
std::string HeaderLine();

}  // namespace tools
