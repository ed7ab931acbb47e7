#include "db/sql_scanner.h"

#include "platform/sjis.h"

namespace db {

namespace {

bool IsBlankByte(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool IsWordByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// The mark that closes a quoted stretch opened by `open`, or 0 when `open` opens none.
char ClosingQuote(char open) {
  switch (open) {
    case '\'':
    case '"':
    case '`':
      return open;
    case '[':
      return ']';
    default:
      return 0;
  }
}

}  // namespace

SqlToken ScanSqlToken(std::string_view sql, std::size_t at) {
  SqlToken token{SqlTokenKind::kSymbol, at, at + 1, true};
  const char c = sql[at];
  if (IsBlankByte(c)) {
    token.kind = SqlTokenKind::kBlank;
    while (token.end < sql.size() && IsBlankByte(sql[token.end])) ++token.end;
  } else if (c == '-' && at + 1 < sql.size() && sql[at + 1] == '-') {
    token.kind = SqlTokenKind::kComment;
    const std::size_t lineEnd = sql.find('\n', at);
    token.end = lineEnd == std::string_view::npos ? sql.size() : lineEnd;
  } else if (c == '/' && at + 1 < sql.size() && sql[at + 1] == '*') {
    token.kind = SqlTokenKind::kComment;
    const std::size_t close = sql.find("*/", at + 2);
    token.closed = close != std::string_view::npos;
    token.end = token.closed ? close + 2 : sql.size();
  } else if (const char close = ClosingQuote(c)) {
    token.kind = c == '\'' ? SqlTokenKind::kString : SqlTokenKind::kQuotedName;
    token.closed = false;
    // Walked by characters: "`", "[" and "]" may be the trail byte of a kanji.
    for (std::size_t i = at + 1; i < sql.size(); i += platform::CharLength(sql, i)) {
      if (sql[i] != close) continue;
      if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
        ++i;  // a doubled quote is one quote inside the stretch
        continue;
      }
      token.end = i + 1;
      token.closed = true;
      break;
    }
    if (!token.closed) token.end = sql.size();
  } else if (IsWordByte(c)) {
    token.kind = SqlTokenKind::kWord;
    token.end = at;
    // An ASCII byte is a character of its own; only a byte from 0x80 up may lead two.
    while (token.end < sql.size() && IsWordByte(sql[token.end])) {
      token.end += static_cast<unsigned char>(sql[token.end]) < 0x80
                       ? 1
                       : platform::CharLength(sql, token.end);
    }
  }
  return token;
}

std::string UnquotedText(std::string_view token) {
  const char close = ClosingQuote(token.front());
  std::string text;
  for (std::size_t i = 1; i + 1 < token.size();) {
    const std::size_t length = platform::CharLength(token, i);
    text.append(token.substr(i, length));
    i += token[i] == close && close != ']' ? 2 : length;
  }
  return text;
}

}  // namespace db
