// The SQL scanner: tokens as both database engines read them, Shift_JIS characters kept
// whole; the quoting checked against SQLite's own reading.
#include "db/sql_scanner.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using db::ScanSqlToken;
using db::SqlTokenKind;

using Kind = SqlTokenKind;

struct Scanned {
  Kind kind;
  std::string text;
  bool closed = true;
  bool operator==(const Scanned&) const = default;
};

std::vector<Scanned> Scan(std::string_view sql) {
  std::vector<Scanned> tokens;
  for (std::size_t i = 0; i < sql.size();) {
    const db::SqlToken token = ScanSqlToken(sql, i);
    EXPECT_EQ(token.start, i);
    EXPECT_GT(token.end, i);
    tokens.push_back({token.kind, std::string(sql.substr(i, token.end - i)), token.closed});
    i = token.end;
  }
  return tokens;
}

void PrintTo(const Scanned& s, std::ostream* os) {
  *os << static_cast<int>(s.kind) << ":[" << s.text << "]" << (s.closed ? "" : " open");
}

TEST(SqlScanner, SplitsTextIntoTokens) {
  struct Case {
    const char* sql;
    std::vector<Scanned> tokens;
  };
  const Case cases[] = {
      {"SELECT a_1,'it''s'",
       {{Kind::kWord, "SELECT"},
        {Kind::kBlank, " "},
        {Kind::kWord, "a_1"},
        {Kind::kSymbol, ","},
        {Kind::kString, "'it''s'"}}},
      // Names in double quotes, backquotes (doubled marks inside) and brackets (none).
      {"\"a\"\"b\"`c``d`[e]]",
       {{Kind::kQuotedName, "\"a\"\"b\""},
        {Kind::kQuotedName, "`c``d`"},
        {Kind::kQuotedName, "[e]"},
        {Kind::kSymbol, "]"}}},
      // A line comment stops before its LF; blanks run together; "/*" reads to "*/".
      {"-- x'\n\t /* '? */?",
       {{Kind::kComment, "-- x'"},
        {Kind::kBlank, "\n\t "},
        {Kind::kComment, "/* '? */"},
        {Kind::kSymbol, "?"}}},
      // Left open: runs to the end of the text.
      {"'abc", {{Kind::kString, "'abc", false}}},
      {"a /* b", {{Kind::kWord, "a"}, {Kind::kBlank, " "}, {Kind::kComment, "/* b", false}}},
      {"[a", {{Kind::kQuotedName, "[a", false}}},
      {"'a''", {{Kind::kString, "'a''", false}}},
      // Shift_JIS: a word holds double-byte characters whole, whatever their trail byte
      // (表示: 0x5C; Ａ: 0x60; 院: 0x5D; 横: 0x5B); inside backquotes and brackets a trail
      // byte is no closing mark.
      {"\x95\x5c\x8e\xa6=\x82\x60(\x89\x40\x89\x5d\x89\x5b)",
       {{Kind::kWord, "\x95\x5c\x8e\xa6"},
        {Kind::kSymbol, "="},
        {Kind::kWord, "\x82\x60"},
        {Kind::kSymbol, "("},
        {Kind::kWord, "\x89\x40\x89\x5d\x89\x5b"},
        {Kind::kSymbol, ")"}}},
      {"`\x82\x60`[\x89\x5d]",
       {{Kind::kQuotedName, "`\x82\x60`"}, {Kind::kQuotedName, "[\x89\x5d]"}}},
      // Half-width kana are single-byte word characters; a lead byte before a quote is a
      // byte of its own, and the quote still opens a string.
      {"\xb6\xc5 \x81'a'",
       {{Kind::kWord, "\xb6\xc5"},
        {Kind::kBlank, " "},
        {Kind::kWord, "\x81"},
        {Kind::kString, "'a'"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Scan(c.sql), c.tokens) << c.sql;
}

// SQLite's reading of a quoted token: the value of a string, the name of a quoted name,
// and whether the token ends (sqlite3_complete sees the ";" after it).
struct SqliteReading {
  std::string text;
  bool complete;
};

SqliteReading ReadBySqlite(const std::string& token, Kind kind) {
  sqlite3* raw = nullptr;
  EXPECT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
  const std::string sql = "SELECT " + std::string(kind == Kind::kString ? "" : "1 AS ") + token;
  SqliteReading reading{"", sqlite3_complete((sql + ";").c_str()) != 0};
  sqlite3_stmt* stmt = nullptr;
  if (!reading.complete) return reading;
  EXPECT_EQ(sqlite3_prepare_v2(raw, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << token;
  if (!stmt) return reading;
  if (kind == Kind::kString) {
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    reading.text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  } else {
    reading.text = sqlite3_column_name(stmt, 0);
  }
  sqlite3_finalize(stmt);
  return reading;
}

TEST(SqlScanner, QuotingIsSqlitesOwn) {
  const char* const tokens[] = {
      "'plain'", "'it''s'",    "''''",   "'a\"b`c[d]'", "'%\x95\x5c%'", "'open",
      "'x''",    "\"a\"\"b\"", "\"'\"",  "\"open",      "`c``d`",       "`'`",
      "`open",   "[a b]",      "[a\"b]", "[open",       "[a'b]",        "\"\x95\x5c\x8e\xa6\"",
  };
  for (const std::string token : tokens) {
    const db::SqlToken scanned = ScanSqlToken(token, 0);
    ASSERT_TRUE(scanned.kind == Kind::kString || scanned.kind == Kind::kQuotedName) << token;
    const SqliteReading sqlite = ReadBySqlite(token, scanned.kind);
    EXPECT_EQ(scanned.closed, sqlite.complete) << token;
    EXPECT_EQ(scanned.end, token.size()) << token;
    if (scanned.closed) {
      EXPECT_EQ(db::UnquotedText(token), sqlite.text) << token;
    }
  }
}

}  // namespace
