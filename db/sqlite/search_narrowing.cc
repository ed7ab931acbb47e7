#include "db/sqlite/search_narrowing.h"

#include <cctype>

#include "db/sql_scanner.h"
#include "platform/sjis.h"
#include "platform/text_compare.h"

using platform::SameTextIgnoringCase;

namespace db::searchindex {

namespace {

enum class TokenKind { kWord, kString, kQuotedName, kSymbol, kEnd };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;       // a word or symbol as written; a string's value, quotes undone
  std::size_t start = 0;  // byte offsets in the statement
  std::size_t end = 0;
};

// True when SQLite, which reads the text byte by byte, cuts the token elsewhere than its
// Shift_JIS characters do: a double-byte character inside a word whose trail byte is no
// letter or digit (Ａ is 0x82 0x60, a backquote to SQLite), or inside a name in
// backquotes or brackets whose trail byte is the closing mark. A quote and a double
// quote are never trail bytes, so strings and double-quoted names always agree.
bool SqliteCutsElsewhere(std::string_view token, SqlTokenKind kind) {
  if (kind != SqlTokenKind::kWord && kind != SqlTokenKind::kQuotedName) return false;
  const char close = token.front() == '[' ? ']' : token.front();
  if (kind == SqlTokenKind::kQuotedName && close == '"') return false;
  for (std::size_t i = 0; i < token.size(); i += platform::CharLength(token, i)) {
    if (platform::CharLength(token, i) == 1) continue;
    const auto trail = static_cast<unsigned char>(token[i + 1]);
    if (kind == SqlTokenKind::kWord ? !(std::isalnum(trail) || trail == '_' || trail >= 0x80)
                                    : trail == static_cast<unsigned char>(close)) {
      return true;
    }
  }
  return false;
}

// Splits SQL into words, strings, quoted names and symbols, skipping blanks and
// comments. False when a string, quoted name or comment is left open, or when SQLite
// would read a token otherwise.
bool Tokenize(std::string_view sql, std::vector<Token>& tokens) {
  // About one token in four bytes of a search statement: room for them all at once.
  tokens.reserve(tokens.size() + sql.size() / 4 + 2);
  for (std::size_t i = 0; i < sql.size();) {
    const SqlToken scanned = ScanSqlToken(sql, i);
    if (!scanned.closed) return false;
    const std::string_view text = sql.substr(i, scanned.end - i);
    if (SqliteCutsElsewhere(text, scanned.kind)) return false;
    i = scanned.end;
    switch (scanned.kind) {
      case SqlTokenKind::kBlank:
      case SqlTokenKind::kComment:
        continue;
      case SqlTokenKind::kString:
        tokens.push_back({TokenKind::kString, UnquotedText(text), scanned.start, scanned.end});
        continue;
      case SqlTokenKind::kQuotedName:
        tokens.push_back({TokenKind::kQuotedName, UnquotedText(text), scanned.start, scanned.end});
        continue;
      case SqlTokenKind::kWord:
        tokens.push_back({TokenKind::kWord, std::string(text), scanned.start, scanned.end});
        continue;
      case SqlTokenKind::kSymbol:
        tokens.push_back({TokenKind::kSymbol, std::string(text), scanned.start, scanned.end});
        continue;
    }
  }
  tokens.push_back({TokenKind::kEnd, {}, sql.size(), sql.size()});
  return true;
}

// A statement of some hundred tokens is asked about each of them many times: the kind
// and the length settle most questions before the letters are compared.
bool IsWord(const Token& token, std::string_view word) {
  return token.kind == TokenKind::kWord && token.text.size() == word.size() &&
         SameTextIgnoringCase(token.text, word);
}

bool IsName(const Token& token) {
  return token.kind == TokenKind::kWord || token.kind == TokenKind::kQuotedName;
}

bool IsSymbol(const Token& token, std::string_view symbol) {
  return token.kind == TokenKind::kSymbol && token.text == symbol;
}

// Words after which the head may no longer be taken as a plain join of tables.
bool IsRefusedInHead(const Token& token) {
  static constexpr std::string_view kRefused[] = {
      "WHERE", "GROUP",    "HAVING", "ORDER", "LIMIT",  "UNION",  "EXCEPT",  "INTERSECT",
      "WITH",  "DISTINCT", "RIGHT",  "FULL",  "WINDOW", "VALUES", "INDEXED", "NATURAL"};
  if (token.kind == TokenKind::kSymbol) return token.text == "(" || token.text == ";";
  for (const std::string_view word : kRefused) {
    if (IsWord(token, word)) return true;
  }
  return false;
}

// Words that end a table name in FROM and cannot be its alias.
bool IsJoinWord(const Token& token) {
  static constexpr std::string_view kWords[] = {"LEFT", "INNER", "CROSS", "JOIN",
                                                "ON",   "USING", "OUTER"};
  for (const std::string_view word : kWords) {
    if (IsWord(token, word)) return true;
  }
  return false;
}

// Finds the book table in the head's tokens (the last is kEnd) and its qualifier.
std::optional<std::string> BookQualifier(const std::vector<Token>& head, const IndexInfo& info) {
  if (head.empty() || !IsWord(head.front(), "SELECT")) return std::nullopt;
  std::optional<std::string> qualifier;
  bool inFrom = false;
  for (std::size_t i = 0; i + 1 < head.size(); ++i) {
    if (IsRefusedInHead(head[i])) return std::nullopt;
    // Only LEFT joins keep the book table the outer loop of every plan, and with it
    // the order of the rows; SQLite may reorder any other join.
    if (IsWord(head[i], "FROM")) inFrom = true;
    if (inFrom &&
        (IsSymbol(head[i], ",") || IsWord(head[i], "INNER") || IsWord(head[i], "CROSS"))) {
      return std::nullopt;
    }
    if (IsWord(head[i], "JOIN") &&
        !(i >= 1 && (IsWord(head[i - 1], "LEFT") ||
                     (IsWord(head[i - 1], "OUTER") && i >= 2 && IsWord(head[i - 2], "LEFT"))))) {
      return std::nullopt;
    }
    const bool namesTable = IsWord(head[i], "FROM") || IsWord(head[i], "JOIN");
    if (!namesTable || !IsName(head[i + 1])) continue;
    if (!SameTextIgnoringCase(head[i + 1].text, info.table)) continue;
    if (qualifier || !IsWord(head[i], "FROM")) return std::nullopt;  // joined to itself
    if (head[i + 2].kind == TokenKind::kSymbol && head[i + 2].text == ".") return std::nullopt;
    std::size_t aliasAt = i + 2;
    if (IsWord(head[aliasAt], "AS")) ++aliasAt;
    if (IsName(head[aliasAt]) && !IsJoinWord(head[aliasAt])) {
      qualifier = head[aliasAt].text;
    } else {
      qualifier = info.table;
    }
  }
  return qualifier;
}

// Reads "[qualifier .] name" at tokens[i].
bool ReadQualifiedName(const std::vector<Token>& tokens, std::size_t& i, std::string& qualifier,
                       std::string& name) {
  if (!IsName(tokens[i])) return false;
  if (IsSymbol(tokens[i + 1], ".")) {
    if (!IsName(tokens[i + 2])) return false;
    qualifier = tokens[i].text;
    i += 2;
  }
  name = tokens[i++].text;
  return true;
}

// The joins after "FROM book [alias]" when every one is a LEFT JOIN on one equality.
std::optional<std::vector<JoinOn>> PlainJoins(const std::vector<Token>& head) {
  std::size_t i = 0;
  while (!IsWord(head[i], "FROM")) ++i;
  i += 2;
  if (IsWord(head[i], "AS")) ++i;
  if (IsName(head[i]) && !IsJoinWord(head[i])) ++i;
  std::vector<JoinOn> joins;
  while (head[i].kind != TokenKind::kEnd) {
    if (!IsWord(head[i++], "LEFT")) return std::nullopt;
    if (IsWord(head[i], "OUTER")) ++i;
    if (!IsWord(head[i++], "JOIN") || !IsName(head[i])) return std::nullopt;
    JoinOn join;
    join.table = head[i++].text;
    if (IsWord(head[i], "AS")) ++i;
    join.alias = IsName(head[i]) && !IsJoinWord(head[i]) ? head[i++].text : join.table;
    if (!IsWord(head[i++], "ON") ||
        !ReadQualifiedName(head, i, join.leftQualifier, join.leftColumn) ||
        !IsSymbol(head[i++], "=") ||
        !ReadQualifiedName(head, i, join.rightQualifier, join.rightColumn)) {
      return std::nullopt;
    }
    joins.push_back(std::move(join));
  }
  return joins;
}

int ColumnPosition(const std::string& column, const IndexInfo& info) {
  for (std::size_t i = 0; i < info.columns.size(); ++i) {
    if (SameTextIgnoringCase(info.columns[i], column)) return static_cast<int>(i);
  }
  return -1;
}

// Reads "[qualifier .] column" at tokens[i]; the column's name, or nullopt when the
// qualifier is not the book table's.
std::optional<std::string> ReadColumn(const std::vector<Token>& tokens, std::size_t& i,
                                      const std::string& qualifier) {
  if (!IsName(tokens[i])) return std::nullopt;
  if (tokens[i + 1].kind == TokenKind::kSymbol && tokens[i + 1].text == ".") {
    if (!SameTextIgnoringCase(tokens[i].text, qualifier) || !IsName(tokens[i + 2])) {
      return std::nullopt;
    }
    i += 2;
  }
  return tokens[i++].text;
}

// Reads "column LIKE 'pattern'" at tokens[i].
std::optional<LikeTerm> ReadTerm(const std::vector<Token>& tokens, std::size_t& i,
                                 const std::string& qualifier, const IndexInfo& info) {
  std::optional<std::string> column = ReadColumn(tokens, i, qualifier);
  if (!column || !IsWord(tokens[i], "LIKE") || tokens[i + 1].kind != TokenKind::kString) {
    return std::nullopt;
  }
  LikeTerm term{ColumnPosition(*column, info), tokens[i + 1].text};
  i += 2;
  if (IsWord(tokens[i], "ESCAPE")) return std::nullopt;
  return term;
}

// True when tokens from i to the end are a sort list whose first item is no plain
// column ("col", "col ASC", "col DESC", qualified or not) and which holds only names,
// numbers, strings, the words of CASE and LIKE conditions, parentheses, dots and commas:
// no call and no subquery, so it reads the row alone and SQLite sorts it itself.
bool IsExpressionList(const std::vector<Token>& tokens, std::size_t i) {
  std::size_t first = i;
  if (IsName(tokens[first]) && IsSymbol(tokens[first + 1], ".")) first += 2;
  if (IsName(tokens[first])) {
    const Token& after = tokens[first + 1];
    if (after.kind == TokenKind::kEnd || IsSymbol(after, ",") || IsWord(after, "ASC") ||
        IsWord(after, "DESC")) {
      return false;
    }
  }
  for (; tokens[i].kind != TokenKind::kEnd; ++i) {
    const Token& token = tokens[i];
    const bool opensGroup = IsWord(token, "AND") || IsWord(token, "OR") || IsWord(token, "NOT") ||
                            IsWord(token, "CASE") || IsWord(token, "WHEN") ||
                            IsWord(token, "THEN") || IsWord(token, "ELSE");
    if (IsWord(token, "SELECT") || (IsName(token) && !opensGroup && IsSymbol(tokens[i + 1], "("))) {
      return false;
    }
    if (token.kind == TokenKind::kSymbol && !IsSymbol(token, "(") && !IsSymbol(token, ")") &&
        !IsSymbol(token, ",") && !IsSymbol(token, ".")) {
      return false;
    }
  }
  return true;
}

// Steps i over a parenthesized condition on the row that reads no other table and
// calls only the functions the filters use, to its closing parenthesis. False for
// anything else: a subquery, a statement end, another function, an unclosed group.
bool SkipRowCondition(const std::vector<Token>& tokens, std::size_t& i) {
  static constexpr std::string_view kFunctions[] = {"substr", "COALESCE", "CAST"};
  if (!IsSymbol(tokens[i], "(")) return false;
  int depth = 0;
  for (; tokens[i].kind != TokenKind::kEnd; ++i) {
    const Token& token = tokens[i];
    if (IsWord(token, "SELECT") || IsSymbol(token, ";")) return false;
    if (token.kind == TokenKind::kWord && IsSymbol(tokens[i + 1], "(")) {
      bool known = false;
      for (const std::string_view function : kFunctions) known = known || IsWord(token, function);
      if (!known && !IsWord(token, "AND") && !IsWord(token, "OR") && !IsWord(token, "NOT") &&
          !IsWord(token, "IN")) {
        return false;
      }
    }
    if (IsSymbol(token, "(")) ++depth;
    if (IsSymbol(token, ")") && --depth == 0) return true;
  }
  return false;
}

// Reads "term", "( expression )", joined by AND (binding first) and OR, from tokens[i].
std::optional<LikeExpression> ReadLikeExpression(const std::vector<Token>& tokens, std::size_t& i,
                                                 const std::string& qualifier,
                                                 const IndexInfo& info, int depth = 0) {
  if (depth > 8) return std::nullopt;
  auto primary = [&]() -> std::optional<LikeExpression> {
    if (IsSymbol(tokens[i], "(")) {
      ++i;
      std::optional<LikeExpression> inner =
          ReadLikeExpression(tokens, i, qualifier, info, depth + 1);
      if (!inner || !IsSymbol(tokens[i], ")")) return std::nullopt;
      ++i;
      return inner;
    }
    std::optional<LikeTerm> term = ReadTerm(tokens, i, qualifier, info);
    if (!term || term->column < 0) return std::nullopt;
    return LikeExpression{LikeExpression::Kind::kTerm, std::move(*term), {}};
  };
  auto joined = [&](LikeExpression::Kind kind, std::string_view word,
                    auto&& part) -> std::optional<LikeExpression> {
    LikeExpression all{kind, {}, {}};
    for (;;) {
      std::optional<LikeExpression> next = part();
      if (!next) return std::nullopt;
      all.parts.push_back(std::move(*next));
      if (!IsWord(tokens[i], word)) break;
      ++i;
    }
    if (all.parts.size() == 1) return std::move(all.parts.front());
    return all;
  };
  return joined(LikeExpression::Kind::kOr, "OR",
                [&] { return joined(LikeExpression::Kind::kAnd, "AND", primary); });
}

// Reads a whole number at tokens[i].
std::optional<std::int64_t> ReadInteger(const std::vector<Token>& tokens, std::size_t& i) {
  const std::string& text = tokens[i].text;
  if (tokens[i].kind != TokenKind::kWord || text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  ++i;
  return std::stoll(text);
}

}  // namespace

std::optional<RankingOrder> ParseRankingOrder(std::string_view orderList,
                                              const std::string& qualifier, const IndexInfo& info) {
  std::vector<Token> tokens;
  if (!Tokenize(orderList, tokens)) return std::nullopt;
  RankingOrder ranking;
  std::size_t i = 0;
  if (IsWord(tokens[i], "CASE")) {
    ++i;
    while (IsWord(tokens[i], "WHEN")) {
      ++i;
      std::optional<LikeExpression> condition = ReadLikeExpression(tokens, i, qualifier, info);
      if (!condition || !IsWord(tokens[i++], "THEN")) return std::nullopt;
      std::optional<std::int64_t> value = ReadInteger(tokens, i);
      if (!value) return std::nullopt;
      ranking.tiers.emplace_back(std::move(*condition), *value);
    }
    if (ranking.tiers.empty() || !IsWord(tokens[i++], "ELSE")) return std::nullopt;
    std::optional<std::int64_t> value = ReadInteger(tokens, i);
    if (!value || !IsWord(tokens[i], "END")) return std::nullopt;
    ranking.elseValue = *value;
    ranking.caseText = std::string(orderList.substr(0, tokens[i].end));
    if (!IsSymbol(tokens[++i], ",")) return std::nullopt;
    ++i;
  }
  std::optional<std::string> year = ReadColumn(tokens, i, qualifier);
  if (!year || !IsWord(tokens[i], "IS") || !IsWord(tokens[i + 1], "NULL") ||
      !IsSymbol(tokens[i + 2], ",")) {
    return std::nullopt;
  }
  i += 3;
  std::optional<std::string> again = ReadColumn(tokens, i, qualifier);
  if (!again || !SameTextIgnoringCase(*again, *year) || !IsWord(tokens[i], "DESC") ||
      !IsSymbol(tokens[i + 1], ",")) {
    return std::nullopt;
  }
  i += 2;
  std::optional<std::string> key = ReadColumn(tokens, i, qualifier);
  if (!key || tokens[i].kind != TokenKind::kEnd) return std::nullopt;
  ranking.yearColumn = *year;
  ranking.keyColumn = *key;
  return ranking;
}

std::optional<SearchShape> ParseSearchStatement(std::string_view sql, const IndexInfo& info) {
  std::vector<Token> tokens;
  if (!Tokenize(sql, tokens)) return std::nullopt;
  std::size_t where = 0;
  while (where < tokens.size() && !IsWord(tokens[where], "WHERE")) ++where;
  if (where == tokens.size()) return std::nullopt;
  std::vector<Token> head(tokens.begin(), tokens.begin() + static_cast<std::ptrdiff_t>(where));
  head.push_back({TokenKind::kEnd, {}, tokens[where].start, tokens[where].start});
  std::optional<std::string> qualifier = BookQualifier(head, info);
  if (!qualifier) return std::nullopt;

  SearchShape shape;
  shape.head = std::string(sql.substr(0, tokens[where].start));
  shape.bookQualifier = *qualifier;
  shape.joins = PlainJoins(head);
  bool star = false;
  for (std::size_t t = 0; t + 1 < head.size(); ++t) {
    star = star || IsSymbol(head[t], "*");
    if (IsWord(head[t], "FROM") && IsName(head[t + 1]) &&
        SameTextIgnoringCase(head[t + 1].text, info.table) && !star) {
      shape.bookTableAt = head[t + 1].start;
    }
  }
  std::size_t i = where + 1;
  const std::size_t conditionsStart = tokens[i].start;
  bool likeConditionsEnded = false;
  for (;;) {
    std::vector<LikeTerm> condition;
    if (likeConditionsEnded || IsSymbol(tokens[i], "(")) {
      const std::size_t groupStart = i++;
      for (;;) {
        std::optional<LikeTerm> term = ReadTerm(tokens, i, *qualifier, info);
        if (!term) break;
        condition.push_back(std::move(*term));
        if (IsSymbol(tokens[i], ")")) break;
        if (!IsWord(tokens[i], "OR")) {
          condition.clear();
          break;
        }
        ++i;
      }
      if (!IsSymbol(tokens[i], ")") || condition.empty()) {
        // After the LIKE conditions, groups of any other condition on the row (the
        // filters of the facets) narrow nothing: an empty condition, kept as written.
        if (groupStart == where + 1) return std::nullopt;
        i = groupStart;
        if (!SkipRowCondition(tokens, i)) return std::nullopt;
        const std::size_t inside = tokens[groupStart + 1].start;
        shape.rowConditions.emplace_back(sql.substr(inside, tokens[i].start - inside));
        while (!shape.rowConditions.back().empty() &&
               std::isspace(static_cast<unsigned char>(shape.rowConditions.back().back()))) {
          shape.rowConditions.back().pop_back();
        }
        condition.clear();
        likeConditionsEnded = true;
      }
      ++i;
    } else {
      std::optional<LikeTerm> term = ReadTerm(tokens, i, *qualifier, info);
      if (!term) return std::nullopt;
      condition.push_back(std::move(*term));
    }
    shape.conditions.push_back(std::move(condition));
    if (!IsWord(tokens[i], "AND")) break;
    ++i;
  }
  shape.conditionsText =
      std::string(sql.substr(conditionsStart, tokens[i - 1].end - conditionsStart));
  if (IsWord(tokens[i], "ORDER")) {
    if (!IsWord(tokens[i + 1], "BY")) return std::nullopt;
    i += 2;
    if (IsExpressionList(tokens, i)) {
      const std::size_t last = tokens.size() - 2;  // the last token before the end
      shape.orderList =
          std::string(sql.substr(tokens[i].start, tokens[last].end - tokens[i].start));
      return shape;
    }
    const std::size_t columnStart = tokens[i].start;
    std::optional<std::string> column = ReadColumn(tokens, i, *qualifier);
    if (!column) {
      // A column of a joined table: any sort of it is the sorter's, as in the scan.
      if (!IsName(tokens[i]) || !IsSymbol(tokens[i + 1], ".") || !IsName(tokens[i + 2])) {
        return std::nullopt;
      }
      i += 3;
    } else if (NameIn(*column, info.unsafeSortColumns) || SameTextIgnoringCase(*column, "rowid")) {
      return std::nullopt;
    } else {
      shape.orderBookColumn = *column;
    }
    shape.orderColumn = std::string(sql.substr(columnStart, tokens[i - 1].end - columnStart));
    if (IsWord(tokens[i], "ASC") || IsWord(tokens[i], "DESC")) shape.orderKind = tokens[i++].text;
  }
  if (tokens[i].kind != TokenKind::kEnd) return std::nullopt;
  return shape;
}

std::string NarrowedStatement(const SearchShape& shape, std::string_view candidateTable,
                              bool candidatesSorted) {
  std::string sql;
  if (shape.bookTableAt) {
    // CROSS JOIN keeps the candidates the outer loop: SQLite never reorders it.
    sql = shape.head.substr(0, *shape.bookTableAt) + std::string(candidateTable) +
          " AS liraidx_c CROSS JOIN " + shape.head.substr(*shape.bookTableAt);
    sql += "WHERE " + shape.bookQualifier + ".rowid = liraidx_c.liraidx_rowid\r\n";
  } else {
    sql = shape.head;
    sql += "WHERE " + shape.bookQualifier + ".rowid IN (SELECT liraidx_rowid FROM " +
           std::string(candidateTable) + ")\r\n";
  }
  sql += "AND (\r\n" + shape.conditionsText + "\r\n)\r\n";
  if (!shape.orderList.empty() && !candidatesSorted) {
    sql += "ORDER BY " + shape.orderList + "\r\n";
  } else if (!shape.orderColumn.empty() && !candidatesSorted) {
    sql += "ORDER BY +" + shape.orderColumn;
    if (!shape.orderKind.empty()) sql += " " + shape.orderKind;
    sql += "\r\n";
  }
  return sql;
}

bool RowsInCandidateOrder(const SearchShape& shape, bool candidatesSorted) {
  return shape.bookTableAt && shape.orderList.empty() &&
         (shape.orderColumn.empty() || candidatesSorted);
}

}  // namespace db::searchindex
