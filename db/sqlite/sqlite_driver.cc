#include "db/sqlite/sqlite_driver.h"

#include <sqlite3.h>

#include <algorithm>
#include <optional>

#include "db/engine_codes.h"
#include "db/sqlite/candidate_table.h"
#include "db/sqlite/indexed_search.h"
#include "db/sqlite/kept_statements.h"
#include "matching/sjis_like.h"
#include "platform/clock.h"
#include "platform/japanese_texts.h"
#include "platform/sjis.h"

namespace db {

namespace {

using Connection = std::shared_ptr<sqlite3>;

struct StatementCloser {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementCloser>;

[[noreturn]] void Fail(sqlite3* db, int rc, std::uint16_t code = kErrSql) {
  // Only the time limit's progress handler interrupts a statement of this program.
  if (rc == SQLITE_INTERRUPT) {
    throw DriverError{code,
                      {TDBError{code, rc, std::string(platform::texts::kDbeTimeLimitExceeded)}}};
  }
  const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  throw DriverError{code, {TDBError{code, rc, message ? message : ""}}};
}

// Called by SQLite every kProgressSteps virtual machine steps; a non-zero answer
// interrupts the statement. The data is the tick (ms) at which work must stop.
constexpr int kProgressSteps = 1000;

// The tick at which work started now must stop.
std::uint64_t DeadlineFromNow(int timeLimitSeconds) {
  return platform::TickCount() + static_cast<std::uint64_t>(timeLimitSeconds) * 1000u;
}

int PastDeadline(void* deadline) {
  return platform::TickCount() >= *static_cast<const std::uint64_t*>(deadline) ? 1 : 0;
}

// The page cache, in pages, of a connection's first request. A CGI process serves one
// request and ends, and its request reads most pages once: every page a larger cache
// took in would be fresh memory (an allocation, then a page fault on its first touch)
// that is never read again. The inner pages of the trees a search walks still stay.
constexpr int kFirstRequestCachePages = 20;

// The page cache of a connection a long-lived process kept for a next request: SQLite's
// own default (negative: in KiB), so that what one request read stays for the next one
// while no other connection writes to the file.
constexpr int kKeptCachePages = -2000;

// Sets the connection's page cache. The pragma reads the schema, as any first statement
// does, and fails as that statement would (a file that is no database, say).
void SetCachePages(sqlite3* db, int pages) {
  const std::string pragma = "PRAGMA cache_size = " + std::to_string(pages);
  const int rc = sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(db, rc);
}

// A LIKE pattern folded for the rows of one statement, with the escape it was folded with.
struct FoldedPattern {
  matching::SjisLikePattern Pattern;
  std::string Escape;
};

// like(pattern, text) and like(pattern, text, escape); the matching mode is the
// function's user data.
void LikeFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  for (int i = 0; i < argc; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return;  // NULL result, as SQL wants
  }
  auto text = [&](int i) {
    const char* bytes = static_cast<const char*>(sqlite3_value_blob(argv[i]));
    return std::string_view(bytes ? bytes : "", sqlite3_value_bytes(argv[i]));
  };
  std::string_view escape;
  if (argc == 3) {
    escape = text(2);
    if (escape.empty() || platform::CharLength(escape, 0) != escape.size()) {
      sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
      return;
    }
  }
  // The folded pattern is kept with the pattern argument: SQLite keeps it while that
  // argument stays the same (a literal or a bound value, for every row a statement
  // scans) and discards it when the argument changes. The escape may change apart.
  auto* kept = static_cast<FoldedPattern*>(sqlite3_get_auxdata(context, 0));
  if (kept && kept->Escape == escape) {
    sqlite3_result_int(context, kept->Pattern.Matches(text(1)) ? 1 : 0);
    return;
  }
  const auto mode = *static_cast<const MatchMode*>(sqlite3_user_data(context));
  auto folded = std::make_unique<FoldedPattern>(
      FoldedPattern{matching::SjisLikePattern(text(0), mode, escape), std::string(escape)});
  sqlite3_result_int(context, folded->Pattern.Matches(text(1)) ? 1 : 0);
  // SQLite may discard the data at once, so it is handed over last.
  sqlite3_set_auxdata(context, 0, folded.release(),
                      [](void* data) { delete static_cast<FoldedPattern*>(data); });
}

constexpr MatchMode kFoldedMatch = MatchMode::kFolded;
constexpr MatchMode kExactMatch = MatchMode::kExact;
constexpr MatchMode kLooseMatch = MatchMode::kLoose;

// Binds the texts to the markers in order.
void Bind(sqlite3* db, sqlite3_stmt* statement, const std::vector<std::string>& params) {
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  for (std::size_t i = 0; i < params.size(); ++i) {
    int rc = sqlite3_bind_text(statement, static_cast<int>(i + 1), params[i].data(),
                               static_cast<int>(params[i].size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) Fail(db, rc);
  }
}

// Steps once; true on a row, false at the end.
bool Step(sqlite3* db, sqlite3_stmt* statement) {
  int rc = sqlite3_step(statement);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(statement);
  Fail(db, rc);
}

StatementHandle PrepareText(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  if (rc != SQLITE_OK) Fail(db, rc);
  return StatementHandle(statement);
}

class SqliteCursor : public Cursor {
 public:
  // countedBy, when given, holds exactly the rows of the result whenever its candidates
  // are exact; inCandidateOrder says the rows then come in the order of its candidates.
  SqliteCursor(Connection connection, sqlite3_stmt* statement, std::string_view sql,
               const std::vector<std::string>& params, bool onRow,
               std::shared_ptr<searchindex::CandidateSet> countedBy, bool inCandidateOrder,
               const searchindex::GroupingSource* grouping)
      : connection_(std::move(connection)),
        statement_(statement),
        sql_(sql),
        params_(params),
        countedBy_(std::move(countedBy)),
        inCandidateOrder_(inCandidateOrder),
        grouping_(grouping),
        onRow_(onRow) {
    const int columns = sqlite3_column_count(statement_);
    for (int i = 0; i < columns; ++i) columnNames_.emplace_back(sqlite3_column_name(statement_, i));
    row_.resize(columns);
    if (onRow_) ReadRow();
  }

  // Ends the statement's run, and with it its read transaction.
  ~SqliteCursor() override { sqlite3_reset(statement_); }

  const std::vector<std::string>& ColumnNames() const override { return columnNames_; }
  bool OnRow() const override { return onRow_; }
  const std::vector<ColumnValue>& Row() const override { return row_; }

  bool Next() override {
    if (!onRow_) return false;
    onRow_ = Step(connection_.get(), statement_);
    if (onRow_) ReadRow();
    return onRow_;
  }

  // Rows that are the exact candidates one for one, in their order, are passed over in
  // the candidates: the statement reads the row it lands on and none before it. A skip
  // past the last row steps, so that the cursor keeps the last row's values.
  bool Skip(std::int64_t rows) override {
    if (rows > 1 && onRow_ && countedBy_ && inCandidateOrder_) {
      const searchindex::CandidateBits& candidates = countedBy_->Current();
      if (candidates.exact && rows <= candidates.rows.Count() - rowsRead_) {
        countedBy_->SkipCandidates(rows - 1);
        rowsRead_ += rows - 1;
        return Next();
      }
    }
    return Cursor::Skip(rows);
  }

  // Counts with COUNT(*) over the statement as a subquery. While this cursor stands on
  // a row its read transaction is still open, so the count sees the same data; past
  // the end that transaction is over, and the rows it gave are the count.
  std::int64_t CountRows() override {
    if (!onRow_) return rowsRead_;
    if (countedBy_) {
      const searchindex::CandidateBits& candidates = countedBy_->Current();
      if (candidates.exact) return candidates.rows.Count();
    }
    RefuseWritingStatement();
    StatementHandle count =
        PrepareText(connection_.get(), "SELECT COUNT(*) FROM (\n" + sql_ + "\n)");
    Bind(connection_.get(), count.get(), params_);
    if (!Step(connection_.get(), count.get())) return 0;
    return sqlite3_column_int64(count.get(), 0);
  }

  // Exact candidates of a head that gives one row a book are the result's rows: they
  // are counted by the index's stored ranks and codes and the joined tables, in the
  // statement's own read transaction (the cursor stands on a row).
  std::optional<std::vector<GroupCount>> CountGroups(
      const std::vector<GroupColumn>& columns) override {
    std::optional<std::vector<std::vector<GroupCount>>> counts = CountGroupSets({columns});
    if (!counts) return std::nullopt;
    return std::move(counts->front());
  }

  std::optional<std::vector<std::vector<GroupCount>>> CountGroupSets(
      const std::vector<std::vector<GroupColumn>>& sets) override {
    if (!onRow_) {
      if (rowsRead_ == 0) return std::vector<std::vector<GroupCount>>(sets.size());
      return std::nullopt;
    }
    if (!countedBy_) return std::nullopt;
    const searchindex::CandidateBits& candidates = countedBy_->Current();
    if (!candidates.exact) return std::nullopt;
    std::vector<std::vector<searchindex::GroupedColumn>> grouped;
    for (const std::vector<GroupColumn>& columns : sets) {
      std::vector<searchindex::GroupedColumn>& set = grouped.emplace_back();
      for (const GroupColumn& column : columns) {
        const auto named = std::find(columnNames_.begin(), columnNames_.end(), column.Name);
        if (named == columnNames_.end()) return std::nullopt;
        const int at = static_cast<int>(named - columnNames_.begin());
        const char* table = sqlite3_column_table_name(statement_, at);
        const char* origin = sqlite3_column_origin_name(statement_, at);
        if (!table || !origin) return std::nullopt;  // an expression, not a column
        set.push_back({table, origin, column.Prefix});
      }
    }
    // Counted already where the rows were decided with them.
    if (const auto& along = candidates.countedAlong;
        along && std::equal(along->sets.begin(), along->sets.end(), grouped.begin(),
                            grouped.end(), searchindex::SameColumns)) {
      return along->counts;
    }
    try {
      return searchindex::CountGroupSetsByRank(connection_.get(), candidates.rows, *grouping_,
                                               grouped);
    } catch (const searchindex::OrderUnreadable& e) {
      throw DriverError{kErrSql, {TDBError{kErrSql, SQLITE_CORRUPT, e.what()}}};
    }
  }

  std::int64_t CountRowsByStepping() override {
    if (!onRow_) return rowsRead_;
    RefuseWritingStatement();
    StatementHandle again = PrepareText(connection_.get(), sql_);
    Bind(connection_.get(), again.get(), params_);
    std::int64_t rows = 0;
    while (Step(connection_.get(), again.get())) ++rows;
    return rows;
  }

 private:
  // A statement that writes (INSERT ... RETURNING) would write again if it were run a
  // second time to count its rows.
  void RefuseWritingStatement() {
    if (!sqlite3_stmt_readonly(statement_)) {
      throw DriverError{kErrCountRefused, {TDBError{kErrCountRefused, 0, {}}}};
    }
  }

  void ReadRow() {
    ++rowsRead_;
    for (int i = 0; i < static_cast<int>(row_.size()); ++i) {
      row_[i] = searchindex::ReadColumnValue(statement_, i);
    }
  }

  Connection connection_;
  sqlite3_stmt* statement_;  // owned by the statement object, which outlives the cursor
  std::string sql_;
  std::vector<std::string> params_;
  std::shared_ptr<searchindex::CandidateSet> countedBy_;
  bool inCandidateOrder_;
  const searchindex::GroupingSource* grouping_;  // with countedBy_; owned by the statement
  std::vector<std::string> columnNames_;
  std::vector<ColumnValue> row_;
  bool onRow_;
  std::int64_t rowsRead_ = 0;  // rows the cursor has stood on
};

class SqliteStatement : public Statement {
 public:
  SqliteStatement(Connection connection, std::string_view sql)
      : connection_(std::move(connection)),
        sql_(sql),
        prepared_(PrepareText(connection_.get(), sql)),
        statement_(prepared_.get()) {}

  // A statement narrowed by the search index, reading its candidate set from the
  // registry, which it releases when it goes. Its text repeats from search to search
  // (the set's number is reused), so the connection keeps it prepared among the recent
  // ones; it is reset and its bindings cleared when the statement goes.
  SqliteStatement(Connection connection, searchindex::NarrowedSearch narrowed,
                  searchindex::CandidateRegistry* registry)
      : connection_(std::move(connection)), sql_(std::move(narrowed.sql)) {
    kept_.emplace(connection_.get(), sql_, searchindex::Keeping::kAmongRecent);
    statement_ = kept_->get();
    if (!statement_) Fail(connection_.get(), sqlite3_errcode(connection_.get()));
    registry_ = registry;
    setNumber_ = narrowed.setNumber;
    if (narrowed.oneRowPerBook) {
      countedBy_ = std::move(narrowed.set);
      grouping_ = std::move(narrowed.grouping);
    }
    inCandidateOrder_ = narrowed.inCandidateOrder;
  }

  ~SqliteStatement() override {
    if (registry_) registry_->Remove(setNumber_);
  }

  std::unique_ptr<Cursor> Execute(const std::vector<std::string>& params) override {
    // A text of blanks and comments prepares to no statement at all.
    if (!statement_) return nullptr;
    Bind(connection_.get(), statement_, params);
    const bool onRow = Step(connection_.get(), statement_);
    if (sqlite3_column_count(statement_) == 0) {
      sqlite3_reset(statement_);
      return nullptr;
    }
    return std::make_unique<SqliteCursor>(connection_, statement_, sql_, params, onRow, countedBy_,
                                          inCandidateOrder_, &grouping_);
  }

 private:
  Connection connection_;
  std::string sql_;
  // The statement it runs: prepared for it alone, or the connection's kept one.
  StatementHandle prepared_;
  std::optional<searchindex::KeptStatement> kept_;
  sqlite3_stmt* statement_ = nullptr;
  searchindex::CandidateRegistry* registry_ = nullptr;  // owned by the connection
  int setNumber_ = 0;
  // The candidates, when they are the result's rows whenever they are exact.
  std::shared_ptr<searchindex::CandidateSet> countedBy_;
  bool inCandidateOrder_ = false;
  searchindex::GroupingSource grouping_;  // what countedBy_ can be counted from
};

class SqliteDatabase : public Database {
 public:
  SqliteDatabase(Connection connection, MatchMode match, searchindex::CandidateRegistry* registry,
                 std::uint64_t* deadline, int timeLimitSeconds)
      : connection_(std::move(connection)),
        match_(match),
        registry_(registry),
        deadline_(deadline),
        timeLimitSeconds_(timeLimitSeconds) {}

  // A search statement over a catalogue with a current search index is run narrowed
  // to the index's candidates, with the same result; when the narrowed text does not
  // prepare, the statement as written gives its own error.
  std::unique_ptr<Statement> Prepare(std::string_view sql) override {
    return PrepareFiltered(sql, {}, {});
  }

  // The filters whose conditions the search statement holds are decided by the index
  // with its LIKE conditions, where it can.
  std::unique_ptr<Statement> PrepareFiltered(
      std::string_view sql, const std::vector<RowFilter>& filters,
      const std::vector<std::vector<GroupColumn>>& countAlong) override {
    // Sized before a statement rather than at the opening or at StartRequest, so that
    // a file that cannot be read fails at the statement, with the statement's error.
    if (cachePages_ != wantedCachePages_) {
      SetCachePages(connection_.get(), wantedCachePages_);
      cachePages_ = wantedCachePages_;
    }
    if (std::optional<searchindex::NarrowedSearch> narrowed =
            searchindex::NarrowSearchStatement(connection_.get(), sql, match_, *registry_,
                                               &lastIndexUnused_, filters, countAlong)) {
      const int setNumber = narrowed->setNumber;
      try {
        return std::make_unique<SqliteStatement>(connection_, std::move(*narrowed), registry_);
      } catch (const DriverError&) {
        registry_->Remove(setNumber);
        lastIndexUnused_ = IndexUnused::kNotNarrowable;
      }
    }
    return std::make_unique<SqliteStatement>(connection_, sql);
  }

  IndexUnused LastIndexUnused() const override { return lastIndexUnused_; }

  // Kept while no transaction is open and no statement is halfway through its run (which
  // would hold a read transaction and with it an old state of the file).
  bool KeptForNextRequest() const override {
    if (!sqlite3_get_autocommit(connection_.get())) return false;
    for (sqlite3_stmt* statement = sqlite3_next_stmt(connection_.get(), nullptr); statement;
         statement = sqlite3_next_stmt(connection_.get(), statement)) {
      if (sqlite3_stmt_busy(statement)) return false;
    }
    return true;
  }

  // A connection kept for another request keeps a cache of the kept size from its next
  // statement on.
  bool StartRequest() override {
    *deadline_ = DeadlineFromNow(timeLimitSeconds_);
    wantedCachePages_ = kKeptCachePages;
    lastIndexUnused_ = IndexUnused::kNoIndex;
    return true;
  }

 private:
  // Shared with the statements, so a statement released after the engine's own
  // handle (at process exit) still finds its connection.
  Connection connection_;
  MatchMode match_;
  searchindex::CandidateRegistry* registry_;  // owned by the connection
  std::uint64_t* deadline_;                   // owned by the connection
  int timeLimitSeconds_;
  IndexUnused lastIndexUnused_ = IndexUnused::kNoIndex;
  int cachePages_ = 0;  // the cache size set on the connection; 0 before its first statement
  int wantedCachePages_ = kFirstRequestCachePages;  // the size its next statement sets
};

}  // namespace

std::unique_ptr<Database> OpenSqliteDatabase(const std::string& path, MatchMode match,
                                             int timeLimitSeconds) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  // The deadline lives as long as the connection whose progress handler reads it.
  auto* deadline = new std::uint64_t(DeadlineFromNow(timeLimitSeconds));
  Connection connection(db, [deadline](sqlite3* handle) {
    searchindex::ForgetKeptStatements(handle);
    sqlite3_close_v2(handle);
    delete deadline;
  });
  if (rc != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw DriverError{kErrCannotOpen, {TDBError{kErrCannotOpen, rc, message + ": " + path}}};
  }
  // The search index's own statements are prepared once for all the searches of the
  // connection, which a long-lived process keeps from request to request.
  searchindex::KeepStatementsOf(db);
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, kSqliteBusyTimeoutMs);
  if (timeLimitSeconds > 0) sqlite3_progress_handler(db, kProgressSteps, PastDeadline, deadline);
  const MatchMode* mode = match == MatchMode::kExact   ? &kExactMatch
                          : match == MatchMode::kLoose ? &kLooseMatch
                                                       : &kFoldedMatch;
  for (int arguments : {2, 3}) {
    rc = sqlite3_create_function(db, "like", arguments, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                 const_cast<MatchMode*>(mode), LikeFunction, nullptr, nullptr);
    if (rc != SQLITE_OK) Fail(db, rc, kErrCannotOpen);
  }
  searchindex::CandidateRegistry* registry = nullptr;
  rc = searchindex::RegisterCandidateTable(db, &registry);
  if (rc != SQLITE_OK) Fail(db, rc, kErrCannotOpen);
  return std::make_unique<SqliteDatabase>(std::move(connection), match, registry, deadline,
                                          timeLimitSeconds);
}

}  // namespace db
