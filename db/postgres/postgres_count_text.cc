#include "db/postgres/postgres_count_text.h"

#include <cctype>

#include "db/postgres/postgres_server_text.h"
#include "db/sql_scanner.h"

namespace db {

namespace {

std::string UpperWord(std::string_view word) {
  std::string upper;
  for (char c : word)
    upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  return upper;
}

}  // namespace

std::string CountText(std::string_view text) {
  // Where the statement's own ORDER BY begins, if it closes the statement.
  std::size_t orderAt = std::string_view::npos;
  int depth = 0;
  std::string previous;  // the word just before at the statement's level, blanks passed over
  std::size_t previousAt = 0;
  for (std::size_t i = 0; i < text.size();) {
    const SqlToken token = ScanSqlToken(text, i);
    i = token.end;
    if (token.kind == SqlTokenKind::kBlank || token.kind == SqlTokenKind::kComment) continue;
    if (token.kind == SqlTokenKind::kSymbol) {
      const char c = text[token.start];
      depth += c == '(' ? 1 : c == ')' ? -1 : 0;
    }
    if (depth != 0 || token.kind != SqlTokenKind::kWord) {
      previous.clear();
      continue;
    }
    const std::string word = UpperWord(text.substr(token.start, token.end - token.start));
    if (word == "BY" && previous == "ORDER") orderAt = previousAt;
    if (word == "LIMIT" || word == "OFFSET" || word == "FETCH" || word == "FOR")
      orderAt = std::string_view::npos;
    previous = word;
    previousAt = token.start;
  }
  return "SELECT COUNT(*) FROM (" + std::string(text.substr(0, orderAt)) + "\n) AS dbengine_count";
}

bool CountsSerially(std::string_view text) {
  return text.find(std::string(kGramsFunction) + "(") != std::string_view::npos;
}

}  // namespace db
