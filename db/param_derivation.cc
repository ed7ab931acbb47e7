#include "db/param_derivation.h"

#include "db/sql_scanner.h"
#include "platform/sjis.h"

namespace db {

namespace {

// The three quotes of a literal. A literal ends only at its own quote character (a
// doubled one inside it being part of it), so that a search text such as "a:b" inside
// '...' stays text and a literal such as 'it"s' does not hide the markers after it.
bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

// The end of the quoted literal that starts at sql[at]: after its closing quote, or the
// end of the text when it is left open.
std::size_t LiteralEnd(std::string_view sql, std::size_t at) { return ScanSqlToken(sql, at).end; }

// The end of the run of plain ASCII bytes (no quote, no ":") that starts at sql[at].
std::size_t PlainRunEnd(std::string_view sql, std::size_t at) {
  while (at < sql.size() && static_cast<unsigned char>(sql[at]) < 0x80 && sql[at] != ':' &&
         !IsQuote(sql[at])) {
    ++at;
  }
  return at;
}

bool EndsName(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

// A name written in quotes (:"name", :'name') loses the quote at its start and then
// one at its end.
std::string CleanedName(std::string_view name) {
  if (!name.empty() && IsQuote(name.front())) name.remove_prefix(1);
  if (!name.empty() && IsQuote(name.back())) name.remove_suffix(1);
  return std::string(name);
}

}  // namespace

TDerivedSql DeriveParams(std::string_view sql) {
  TDerivedSql derived;
  std::string& out = derived.EngineText;
  out.reserve(sql.size());
  std::size_t i = 0;
  while (i < sql.size()) {
    // A run of ASCII bytes that open no literal and no marker is copied whole: it is
    // most of a statement, and no such byte begins a double-byte character.
    const std::size_t plainEnd = PlainRunEnd(sql, i);
    if (plainEnd > i) {
      out.append(sql.substr(i, plainEnd - i));
      i = plainEnd;
      continue;
    }
    const char c = sql[i];
    const std::size_t length = platform::CharLength(sql, i);
    if (length == 2) {
      out.append(sql.substr(i, 2));
      i += 2;
      continue;
    }
    if (IsQuote(c)) {
      const std::size_t end = LiteralEnd(sql, i);
      out.append(sql.substr(i, end - i));
      i = end;
      continue;
    }
    if (c == ':' && i + 1 < sql.size()) {
      if (sql[i + 1] == ':') {
        out.push_back(':');
        i += 2;
        continue;
      }
      // A marker: its name runs to the first delimiter outside a quoted part.
      std::size_t end = i + 1;
      while (end < sql.size() && !EndsName(sql[end])) {
        const bool quoted = platform::CharLength(sql, end) == 1 && IsQuote(sql[end]);
        end = quoted ? LiteralEnd(sql, end) : end + platform::CharLength(sql, end);
      }
      std::string_view name = sql.substr(i + 1, end - i - 1);
      derived.ParamNames.push_back(!name.empty() && IsQuote(name.front()) ? CleanedName(name)
                                                                          : std::string(name));
      out.push_back('?');
      i = end;
      continue;
    }
    out.push_back(c);
    ++i;
  }
  return derived;
}

}  // namespace db
