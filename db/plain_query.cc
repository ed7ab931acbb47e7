#include "db/plain_query.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "db/sql_scanner.h"

namespace db {

namespace {

std::string Upper(std::string_view word) {
  std::string upper(word);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// Words that write, or that change what the connection holds for the next statement:
// SELECT ... INTO makes a table, WITH may hold an INSERT, and a few functions set the
// session's settings or take locks that outlive the statement.
constexpr std::string_view kChangingWords[] = {
    "ALTER",    "ATTACH",    "BEGIN",   "COMMIT", "COPY",       "CREATE",  "DEALLOCATE",
    "DELETE",   "DETACH",    "DISCARD", "DROP",   "INSERT",     "INTO",    "LISTEN",
    "LOCK",     "NEXTVAL",   "NOTIFY",  "PRAGMA", "PREPARE",    "RELEASE", "RESET",
    "ROLLBACK", "SAVEPOINT", "SET",     "SETVAL", "SET_CONFIG", "UPDATE"};

bool ChangesSomething(const std::string& upperWord) {
  return std::find(std::begin(kChangingWords), std::end(kChangingWords), upperWord) !=
             std::end(kChangingWords) ||
         upperWord.starts_with("PG_ADVISORY");
}

}  // namespace

bool IsPlainQuery(std::string_view sql) {
  bool first = true;
  for (std::size_t at = 0; at < sql.size();) {
    const SqlToken token = ScanSqlToken(sql, at);
    at = token.end;
    if (token.kind != SqlTokenKind::kWord) continue;
    const std::string word = Upper(sql.substr(token.start, token.end - token.start));
    if (first && word != "SELECT" && word != "WITH" && word != "VALUES") return false;
    first = false;
    if (ChangesSomething(word)) return false;
  }
  return !first;
}

}  // namespace db
