#include "db/indexed_search.h"

#include <memory>
#include <vector>

#include "db/search_index.h"
#include "db/search_index_format.h"
#include "db/search_narrowing.h"

namespace db::searchindex {

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

struct ColumnFacts {
  bool found = false;
  std::string type, collation;
};

ColumnFacts Facts(sqlite3* db, const std::string& table, const std::string& column) {
  const char* type = nullptr;
  const char* collation = nullptr;
  ColumnFacts facts;
  facts.found = sqlite3_table_column_metadata(db, "main", table.c_str(), column.c_str(), &type,
                                              &collation, nullptr, nullptr, nullptr) == SQLITE_OK;
  if (facts.found) {
    facts.type = type ? type : "";
    facts.collation = collation ? collation : "";
  }
  return facts;
}

// True when the table has a unique index on the column alone.
bool UniqueColumn(sqlite3* db, const std::string& table, const std::string& column) {
  sqlite3_stmt* statement = nullptr;
  const char* sql =
      "SELECT 1 FROM pragma_index_list(?1) l WHERE l.\"unique\" AND l.partial = 0"
      " AND (SELECT count(*) FROM pragma_index_info(l.name)) = 1"
      " AND (SELECT name FROM pragma_index_info(l.name)) = ?2 COLLATE NOCASE";
  bool unique = false;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(statement, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 2, column.c_str(), -1, SQLITE_TRANSIENT);
    unique = sqlite3_step(statement) == SQLITE_ROW;
  }
  sqlite3_finalize(statement);
  return unique;
}

// True when every join of the head meets at most one row for a book: its equality
// compares a book column with a column of the joined table that a unique index covers,
// both of one declared type and compared as bytes, so that the equality means what
// the index means.
bool OneRowPerBook(sqlite3* db, const SearchShape& shape, const IndexInfo& info) {
  if (!shape.joins) return false;
  for (const JoinOn& join : *shape.joins) {
    auto side = [&](const std::string& qualifier, const std::string& column, bool joined) {
      if (!qualifier.empty()) {
        return joined ? NameIn(qualifier, {join.alias}) : NameIn(qualifier, {shape.bookQualifier});
      }
      return Facts(db, joined ? join.table : info.table, column).found &&
             !Facts(db, joined ? info.table : join.table, column).found;
    };
    std::string joinedColumn, bookColumn;
    if (side(join.leftQualifier, join.leftColumn, true) &&
        side(join.rightQualifier, join.rightColumn, false)) {
      joinedColumn = join.leftColumn;
      bookColumn = join.rightColumn;
    } else if (side(join.rightQualifier, join.rightColumn, true) &&
               side(join.leftQualifier, join.leftColumn, false)) {
      joinedColumn = join.rightColumn;
      bookColumn = join.leftColumn;
    } else {
      return false;
    }
    const ColumnFacts joined = Facts(db, join.table, joinedColumn);
    const ColumnFacts book = Facts(db, info.table, bookColumn);
    if (!joined.found || !book.found || !NameIn(joined.type, {book.type}) ||
        !NameIn(joined.collation, {"BINARY"}) || !NameIn(book.collation, {"BINARY"}) ||
        !UniqueColumn(db, join.table, joinedColumn)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<NarrowedSearch> NarrowSearchStatement(sqlite3* db, std::string_view sql,
                                                    MatchMode mode, CandidateRegistry& registry) {
  if (!MayBeSearch(sql)) return std::nullopt;
  std::optional<IndexInfo> info = ReadCurrentIndex(db);
  if (!info || !IndexServes(info->match, mode)) return std::nullopt;
  std::optional<SearchShape> shape = ParseSearchStatement(sql, *info);
  if (!shape) return std::nullopt;
  const auto most = static_cast<std::size_t>(info->rows / kNarrowedShareDivisor);
  std::optional<Candidates> candidates = CandidateRows(db, shape->conditions, mode, most);
  if (!candidates || candidates->rows.size() > most) return std::nullopt;
  // Computed again when another connection wrote between here and the statement's
  // read: the index, or the rows it stands for, may have changed.
  auto compute = [db, conditions = shape->conditions, mode, table = info->table] {
    if (std::optional<IndexInfo> again = ReadCurrentIndex(db);
        again && IndexServes(again->match, mode)) {
      if (std::optional<Candidates> again = CandidateRows(db, conditions, mode, SIZE_MAX)) {
        return std::move(*again);
      }
    }
    return Candidates{EveryRow(db, table), false};
  };
  NarrowedSearch narrowed;
  narrowed.set = std::make_shared<CandidateSet>(db, compute, std::move(*candidates));
  narrowed.setNumber = registry.Add(narrowed.set);
  narrowed.oneRowPerBook = OneRowPerBook(db, *shape, *info);
  narrowed.sql = NarrowedStatement(*shape, std::string("SELECT id FROM ") + kCandidateTable + "(" +
                                               std::to_string(narrowed.setNumber) + ")");
  return narrowed;
}

}  // namespace db::searchindex
