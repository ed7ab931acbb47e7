// The tokens of an SQL text, read the way both SQLite and PostgreSQL read them, for the
// code that rewrites or inspects statements before a driver prepares them. The text is
// Shift_JIS: a double-byte character is never cut, so a trail byte that looks like "`",
// "[", "]" or a letter is part of its character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace db {

enum class SqlTokenKind {
  kBlank,       // a run of blanks (space, tab, CR, LF, FF, VT)
  kComment,     // "--" to the end of the line (the LF not included), or "/* ... */"
  kString,      // '...', a doubled quote inside being one quote
  kQuotedName,  // "...", `...` (a doubled quote inside being one quote) or [...]
  kWord,        // letters, digits, "_" and every character from 0x80 up: keywords, names
  kSymbol,      // any other single byte
};

// One token: sql[start, end). `closed` is false for a string, quoted name or "/*"
// comment that runs to the end of the text without its closing mark.
struct SqlToken {
  SqlTokenKind kind = SqlTokenKind::kSymbol;
  std::size_t start = 0, end = 0;
  bool closed = true;
};

// Reads the token that starts at sql[at]. Needs at < sql.size().
SqlToken ScanSqlToken(std::string_view sql, std::size_t at);

// The text a string or quoted name stands for: its quotes taken off, a doubled quote
// made single. `token` is the whole token as written, closing mark included.
std::string UnquotedText(std::string_view token);

}  // namespace db
