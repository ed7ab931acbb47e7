#include "db/indexed_search.h"

#include <memory>
#include <vector>

#include "db/search_index.h"
#include "db/search_index_format.h"
#include "db/search_narrowing.h"

namespace dbengine::searchindex {

namespace {

// True when the text holds both words, letter case ignored: a cheap first test that
// spares every other statement (the detail page's, say) the reading of the index.
bool MayBeSearch(std::string_view sql) {
  auto holds = [&](std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= sql.size(); ++i) {
      std::size_t k = 0;
      while (k < word.size() && (sql[i + k] & ~0x20) == word[k]) ++k;
      if (k == word.size()) return true;
    }
    return false;
  };
  return holds("WHERE") && holds("LIKE");
}

// Every rowid of the table, ascending: the candidates of an index that cannot answer.
std::vector<std::int64_t> EveryRow(sqlite3* db, const std::string& table) {
  std::vector<std::int64_t> rows;
  sqlite3_stmt* statement = nullptr;
  const std::string sql = "SELECT rowid FROM \"" + table + "\" ORDER BY rowid";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW)
      rows.push_back(sqlite3_column_int64(statement, 0));
  }
  sqlite3_finalize(statement);
  return rows;
}

}  // namespace

std::optional<std::string> NarrowSearchStatement(sqlite3* db, std::string_view sql, MatchMode mode,
                                                 CandidateRegistry& registry, int& setNumber) {
  if (!MayBeSearch(sql)) return std::nullopt;
  std::optional<IndexInfo> info = ReadCurrentIndex(db);
  if (!info) return std::nullopt;
  std::optional<SearchShape> shape = ParseSearchStatement(sql, *info);
  if (!shape) return std::nullopt;
  std::optional<std::vector<std::int64_t>> rows = CandidateRows(db, shape->conditions, mode);
  if (!rows) return std::nullopt;
  if (static_cast<std::int64_t>(rows->size()) * kNarrowedShareDivisor > info->rows) {
    return std::nullopt;
  }
  // Computed again when another connection wrote between here and the statement's
  // read: the index, or the rows it stands for, may have changed.
  auto compute = [db, conditions = shape->conditions, mode, table = info->table] {
    if (ReadCurrentIndex(db)) {
      if (std::optional<std::vector<std::int64_t>> again = CandidateRows(db, conditions, mode)) {
        return std::move(*again);
      }
    }
    return EveryRow(db, table);
  };
  setNumber = registry.Add(std::make_shared<CandidateSet>(db, compute, std::move(*rows)));
  return NarrowedStatement(*shape, std::string("SELECT id FROM ") + kCandidateTable + "(" +
                                       std::to_string(setNumber) + ")");
}

}  // namespace dbengine::searchindex
