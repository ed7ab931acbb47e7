#include "db/param_derivation.h"

#include "platform/sjis.h"

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

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
  bool inLiteral = false;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    const std::size_t length = sjis::CharLength(sql, i);
    if (length == 2) {
      out.append(sql.substr(i, 2));
      i += 2;
      continue;
    }
    if (IsQuote(c)) {
      inLiteral = !inLiteral;
    } else if (c == ':' && !inLiteral && i + 1 < sql.size()) {
      if (sql[i + 1] == ':') {
        out.push_back(':');
        i += 2;
        continue;
      }
      // A marker: its name runs to the first delimiter outside a quoted part.
      std::size_t end = i + 1;
      while (end < sql.size() && (inLiteral || !EndsName(sql[end]))) {
        if (sjis::CharLength(sql, end) == 2) {
          end += 2;
          continue;
        }
        if (IsQuote(sql[end])) inLiteral = !inLiteral;
        ++end;
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
