#include "db/sqlite/indexed_search.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "db/sqlite/kept_statements.h"
#include "db/sqlite/long_word_grams.h"
#include "db/sqlite/long_word_rows.h"
#include "db/sqlite/posting_reader.h"
#include "db/sqlite/ranked_order.h"
#include "db/sqlite/row_bitmap.h"
#include "db/sqlite/row_filters.h"
#include "db/sqlite/search_index.h"
#include "db/sqlite/search_index_format.h"
#include "db/sqlite/search_narrowing.h"

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

// True when every join of the head meets at most one row for a book (JoinMeetsOneRow).
// Each join is added to `joins` as it is proved.
bool OneRowPerBook(sqlite3* db, const SearchShape& shape, const IndexInfo& info,
                   std::vector<OneRowJoin>& joins) {
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
    const OneRowJoin proved{join.table, joinedColumn, bookColumn};
    if (!JoinMeetsOneRow(db, info.table, proved)) return false;
    joins.push_back(proved);
  }
  return true;
}

// True when no row is pending: the lists and the stored orders are those of the rows.
bool NothingPending(sqlite3* db) {
  const KeptStatement statement(db, std::string("SELECT 1 FROM ") + kPendingTable + " LIMIT 1");
  return statement && sqlite3_step(statement.get()) == SQLITE_DONE;
}

// The stored order that gives the statement's sort, when the index keeps one for its
// column and the rows come from the book table one a candidate: a head that joins the
// candidates to the book table and meets at most one row of each join.
std::optional<IndexedSort> SortFromIndex(sqlite3* db, const SearchShape& shape,
                                         const IndexInfo& info, bool oneRowPerBook) {
  if (!shape.bookTableAt || !oneRowPerBook || shape.orderBookColumn.empty() ||
      !NothingPending(db)) {
    return std::nullopt;
  }
  for (std::size_t k = 0; k < info.orderColumns.size(); ++k) {
    if (NameIn(shape.orderBookColumn, {info.orderColumns[k]}) &&
        OrderFollowsUpdates(db, info.orderColumns[k])) {
      return IndexedSort{static_cast<int>(k), NameIn(shape.orderKind, {"DESC"}), info.table,
                         info.orderColumns[k]};
    }
  }
  return std::nullopt;
}

// The rows that meet the conditions, read from the posting lists whole, when the lists
// answer the conditions exactly: the folded or loose mode, every term one unit or one
// pair between "%"s in an indexed column, or a longer run that the index's long-word
// grams decide, and no row pending. However many rows hold the word, the set costs
// 8 KiB a chunk of rowids and (but for the few rows LongWordRows leaves to LIKE) no book
// row is read. nullopt when the lists do not answer exactly or cannot be read.
std::optional<RowBitmap> ExactRows(sqlite3* db, const LikeConditions& conditions, MatchMode mode,
                                   const IndexInfo& info) {
  if (conditions.empty()) return std::nullopt;
  auto longWord = [&](const LikeTerm& term) {
    return info.longWords ? LongWordUnits(term.pattern, mode) : std::nullopt;
  };
  for (const std::vector<LikeTerm>& condition : conditions) {
    if (condition.empty()) return std::nullopt;
    for (const LikeTerm& term : condition) {
      if (term.column < 0 || !(PatternIsOneGram(term.pattern, mode) || longWord(term))) {
        return std::nullopt;
      }
    }
  }
  if (!NothingPending(db)) return std::nullopt;
  const KeptStatement select(db, std::string("SELECT chunk, data FROM ") + kPostingsTable +
                                     " WHERE col = ?1 AND gram = ?2 ORDER BY chunk");
  if (!select) return std::nullopt;
  const ListReader read = [&select](int column, std::int64_t gram, RowBitmap& rows) {
    return ReadList(select.get(), column, gram, rows);
  };
  std::optional<RowBitmap> rows;
  for (const std::vector<LikeTerm>& condition : conditions) {
    RowBitmap either;
    for (const LikeTerm& term : condition) {
      std::optional<RowBitmap> holding;
      if (const std::optional<std::vector<std::uint32_t>> units = longWord(term)) {
        holding = LongWordRows(db, info, term, *units, read);
        if (!holding) return std::nullopt;
      } else {
        for (std::int64_t gram : RequiredGramKeys(term.pattern, mode)) {
          RowBitmap list;
          if (!read(term.column, gram, list)) return std::nullopt;
          if (holding) {
            holding->Intersect(list);
          } else {
            holding = std::move(list);
          }
        }
      }
      if (holding) either.Unite(*holding);
    }
    if (rows) {
      rows->Intersect(either);
    } else {
      rows = std::move(either);
    }
  }
  return rows;
}

// The exact rows of the LIKE conditions (ExactRows) narrowed by the filters that decide
// the statement's row conditions, exact; without filters the rows as they are, exact
// when there is no row condition. nullopt when the lists do not answer exactly.
std::optional<CandidateBits> ExactCandidates(sqlite3* db, const LikeConditions& conditions,
                                             MatchMode mode, const IndexInfo& info,
                                             const std::optional<std::vector<RowFilter>>& filters,
                                             const std::optional<FilterSource>& source) {
  std::optional<RowBitmap> rows = ExactRows(db, conditions, mode, info);
  if (!rows || !filters)
    return rows ? std::optional(CandidateBits{std::move(*rows), true}) : std::nullopt;
  if (source) {
    try {
      if (std::optional<FilteredRows> kept = RowsMeetingFilters(db, *rows, *source, *filters)) {
        return CandidateBits{std::move(kept->rows), true, std::move(kept->countedAlong)};
      }
    } catch (const OrderUnreadable&) {
      // The statement's own conditions decide the rows instead.
    }
  }
  return CandidateBits{std::move(*rows), false};
}

// ExactCandidates, or the registry's answer to the same question in the same state.
std::optional<CandidateBits> RecalledExactCandidates(
    sqlite3* db, CandidateRegistry& registry, const LikeConditions& conditions, MatchMode mode,
    const IndexInfo& info, const std::optional<std::vector<RowFilter>>& filters,
    const std::optional<FilterSource>& source) {
  CandidateQuestion question{conditions, filters, source.has_value(), mode, DataVersion(db)};
  if (std::optional<CandidateBits> recalled = registry.Recall(question)) return recalled;
  std::optional<CandidateBits> answer =
      ExactCandidates(db, conditions, mode, info, filters, source);
  if (answer) registry.Remember(std::move(question), *answer);
  return answer;
}

// Holds one read transaction open while it lives, unless the connection is inside one
// already: every statement run meanwhile reads the same committed state, so the index's
// description, its lists, its pending rows and the data version they are stamped with
// all belong together however other connections write.
class ReadSnapshot {
 public:
  explicit ReadSnapshot(sqlite3* db)
      : db_(db),
        inherited_(!sqlite3_get_autocommit(db)),
        owned_(!inherited_ && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK) {}
  ~ReadSnapshot() {
    // A transaction that only read has nothing to lose: should COMMIT fail, ROLLBACK
    // ends it all the same.
    if (owned_ && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;

  // False when no transaction could be begun: the reads may then see several states.
  bool Holds() const { return inherited_ || owned_; }

 private:
  sqlite3* db_;
  bool inherited_;  // the connection was inside a transaction already
  bool owned_;      // begun here, ended by the destructor
};

}  // namespace

bool UniqueColumn(sqlite3* db, const std::string& table, const std::string& column) {
  // An INTEGER PRIMARY KEY is the rowid itself, which has no index of its own in the
  // index list (a shelf location's code, say) yet is unique.
  const std::string sql =
      "SELECT 1 FROM pragma_index_list(?1) l WHERE l.\"unique\" AND l.partial = 0"
      " AND (SELECT count(*) FROM pragma_index_info(l.name)) = 1"
      " AND (SELECT name FROM pragma_index_info(l.name)) = ?2 COLLATE NOCASE"
      " UNION ALL SELECT 1 FROM pragma_table_info(?1) t WHERE t.pk = 1"
      " AND t.name = ?2 COLLATE NOCASE"
      " AND (SELECT count(*) FROM pragma_table_info(?1) WHERE pk > 0) = 1";
  // The pragma tables prepare statements of their own at each read: the answer is kept.
  return KeptFact<bool>(db, "unique " + table + '\0' + column, [&] {
    const KeptStatement statement(db, sql);
    if (!statement) return false;
    sqlite3_bind_text(statement.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement.get(), 2, column.c_str(), -1, SQLITE_TRANSIENT);
    return sqlite3_step(statement.get()) == SQLITE_ROW;
  });
}

bool JoinMeetsOneRow(sqlite3* db, const std::string& bookTable, const OneRowJoin& join) {
  const ColumnFacts joined = Facts(db, join.table, join.joinedColumn);
  const ColumnFacts book = Facts(db, bookTable, join.bookColumn);
  return joined.found && book.found && NameIn(joined.type, {book.type}) &&
         NameIn(joined.collation, {"BINARY"}) && NameIn(book.collation, {"BINARY"}) &&
         UniqueColumn(db, join.table, join.joinedColumn);
}

std::optional<NarrowedSearch> NarrowSearchStatement(sqlite3* db, std::string_view sql,
                                                    MatchMode mode, CandidateRegistry& registry,
                                                    IndexUnused* why,
                                                    const std::vector<RowFilter>& filters,
                                                    const std::vector<std::vector<GroupColumn>>& countAlong) {
  if (!MayBeSearch(sql)) return std::nullopt;
  IndexUnused ignored;
  IndexUnused& reason = why ? *why : ignored;
  // The candidates and the data version CandidateSet takes are of this one state. A
  // read transaction that cannot begin now (a writer's lock, say) says nothing of the
  // index: it is left to the scan like a statement the index does not narrow.
  reason = IndexUnused::kNotNarrowable;
  const ReadSnapshot snapshot(db);
  if (!snapshot.Holds()) return std::nullopt;
  std::optional<IndexInfo> info = ReadCurrentIndex(db, &reason);
  if (!info) return std::nullopt;
  if (!IndexServes(info->match, mode)) {
    reason = IndexUnused::kOtherMode;
    return std::nullopt;
  }
  reason = IndexUnused::kNotNarrowable;
  std::optional<SearchShape> shape = ParseSearchStatement(sql, *info);
  if (!shape) return std::nullopt;
  // A condition written twice (a word repeated) reads its lists once.
  LikeConditions distinct;
  for (std::vector<LikeTerm>& condition : shape->conditions) {
    if (std::find(distinct.begin(), distinct.end(), condition) == distinct.end()) {
      distinct.push_back(std::move(condition));
    }
  }
  shape->conditions = std::move(distinct);
  NarrowedSearch narrowed;
  narrowed.grouping = {info->table,    info->orderColumns, {},
                       info->rows,     info->joinedBooks,  registry.LastJoinedRead(),
                       info->bookCodes,  info->joinedCodes};
  narrowed.oneRowPerBook = OneRowPerBook(db, *shape, *info, narrowed.grouping.joins);
  // Row conditions that are all the caller's filters leave the LIKE conditions to the
  // lists; the filters are decided where the head gives one row a book.
  const std::optional<std::vector<RowFilter>> decided =
      FiltersOfConditions(shape->rowConditions, filters);
  LikeConditions listed = shape->conditions;
  std::optional<FilterSource> source;
  if (decided) {
    std::erase_if(listed, [](const std::vector<LikeTerm>& condition) { return condition.empty(); });
    if (narrowed.oneRowPerBook && shape->bookTableAt) {
      source = FilterSource{narrowed.grouping, shape->head.substr(*shape->bookTableAt),
                            shape->bookQualifier, countAlong};
    }
  }
  const auto most = static_cast<std::size_t>(info->rows / kNarrowedShareDivisor);
  // Rows the lists give exactly are worth narrowing to however many they are: the
  // count needs no row, an unsorted page reads only its own rows. Rows the filters
  // could not decide are the statement's to decide, so they count as a share as any.
  CandidateBits first;
  std::optional<CandidateBits> exact =
      RecalledExactCandidates(db, registry, listed, mode, *info, decided, source);
  if (exact && (exact->exact || static_cast<std::size_t>(exact->rows.Count()) <= most)) {
    first = std::move(*exact);
  } else {
    std::optional<Candidates> candidates =
        CandidateRows(db, shape->conditions, mode, most, &reason);
    if (!candidates || candidates->rows.size() > most) {
      if (candidates) reason = IndexUnused::kNotNarrowable;
      return std::nullopt;
    }
    first = {RowBitmap(candidates->rows), candidates->exact};
  }
  // Computed again when another connection wrote between here and the statement's
  // read: the index, or the rows it stands for, may have changed.
  auto compute = [db, &registry, conditions = shape->conditions, listed, decided, source, mode,
                  table = info->table] {
    if (std::optional<IndexInfo> again = ReadCurrentIndex(db);
        again && IndexServes(again->match, mode)) {
      if (std::optional<CandidateBits> exact =
              RecalledExactCandidates(db, registry, listed, mode, *again, decided, source)) {
        return std::move(*exact);
      }
      if (std::optional<Candidates> again = CandidateRows(db, conditions, mode, SIZE_MAX)) {
        return CandidateBits{RowBitmap(again->rows), again->exact};
      }
    }
    return CandidateBits{RowBitmap(EveryRow(db, table)), false};
  };
  std::optional<IndexedSort> sort = SortFromIndex(db, *shape, *info, narrowed.oneRowPerBook);
  std::shared_ptr<RankedOrder> ranked = PlanRanking(
      db, *shape, *info, mode, narrowed.oneRowPerBook && NothingPending(db), first.rows);
  const bool sorted = sort.has_value() || ranked;
  narrowed.inCandidateOrder = RowsInCandidateOrder(*shape, sorted);
  narrowed.set = std::make_shared<CandidateSet>(db, compute, std::move(first), std::move(sort),
                                                std::move(ranked));
  narrowed.setNumber = registry.Add(narrowed.set);
  narrowed.sql = NarrowedStatement(
      *shape, kCandidateTable + ("(" + std::to_string(narrowed.setNumber) + ")"), sorted);
  reason = IndexUnused::kNone;
  return narrowed;
}

}  // namespace db::searchindex
