#include "db/postgres/postgres_cursor.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "db/postgres/postgres_count_text.h"

namespace db::postgres {

namespace {

// Rows fetched from the server cursor at a time: a first page's worth, then more, so
// that a first result page does not make the server find and send hundreds of rows.
constexpr int kFirstFetchBatch = 50, kFetchBatch = 500;

// Type oids of the columns read as numbers or text.
constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701;
constexpr Oid kTextTypes[] = {18, 19, 25, 705, 1042, 1043};

ColumnValue::Kind KindOf(Oid type) {
  if (type == kInt2 || type == kInt4 || type == kInt8) return ColumnValue::Kind::kInteger;
  if (type == kFloat4 || type == kFloat8) return ColumnValue::Kind::kFloat;
  for (Oid text : kTextTypes) {
    if (type == text) return ColumnValue::Kind::kText;
  }
  return ColumnValue::Kind::kOther;
}

// Runs the commands of a count inside a savepoint, so that their failure leaves the
// transaction and its cursors usable; gives the result of the command `answering`.
Result Guarded(Session& session, std::vector<Send> commands, std::size_t answering) {
  commands.insert(commands.begin(), Query("SAVEPOINT dbengine_count"));
  commands.push_back(Query("RELEASE SAVEPOINT dbengine_count"));
  try {
    return std::move(session.RunTogether(commands)[answering + 1]);
  } catch (const DriverError&) {
    session.RunUnchecked("ROLLBACK TO SAVEPOINT dbengine_count");
    throw;
  }
}

}  // namespace

std::int64_t CountOnServer(Session& session, const std::string& text,
                           const std::vector<std::string>& params) {
  std::vector<Send> counting;
  if (CountsSerially(text)) counting.push_back(Query("SET LOCAL max_parallel_workers_per_gather = 0"));
  counting.push_back(Query(CountText(text), params));
  Result counted = Guarded(session, counting, counting.size() - 1);
  return std::strtoll(PQgetvalue(counted.get(), 0, 0), nullptr, 10);
}

std::int64_t CountByMoving(Session& session, const std::string& text,
                           const std::vector<std::string>& params) {
  const std::string other = session.NewName("n");
  Result moved = Guarded(session,
                         {Query("DECLARE " + other + " NO SCROLL CURSOR FOR " + text, params),
                          Query("MOVE FORWARD ALL IN " + other), Query("CLOSE " + other)},
                         1);
  return std::strtoll(PQcmdTuples(moved.get()), nullptr, 10);
}

PostgresCursor::PostgresCursor(std::shared_ptr<Session> session, std::string text,
                               std::vector<std::string> params)
    : session_(std::move(session)),
      text_(std::move(text)),
      params_(std::move(params)),
      name_(session_->NewName("c")) {
  std::vector<Send> opening;
  if (session_->OpenCursors == 0) opening.push_back(Query("BEGIN ISOLATION LEVEL REPEATABLE READ"));
  ++session_->OpenCursors;
  try {
    opening.push_back(Query("DECLARE " + name_ + " NO SCROLL CURSOR FOR " + text_, params_));
    opening.push_back(Query(FetchText(kFirstFetchBatch)));
    batch_ = std::move(session_->RunTogether(opening).back());
    batchSize_ = kFirstFetchBatch;
    for (int i = 0; i < PQnfields(batch_.get()); ++i) {
      columnNames_.emplace_back(PQfname(batch_.get(), i));
      kinds_.push_back(KindOf(PQftype(batch_.get(), i)));
    }
    row_.resize(columnNames_.size());
    Next();
  } catch (...) {
    LeaveTransaction(*session_);
    throw;
  }
}

PostgresCursor::~PostgresCursor() { LeaveTransaction(*session_); }

bool PostgresCursor::Next() {
  if (batchRow_ == PQntuples(batch_.get())) {
    if (PQntuples(batch_.get()) < batchSize_) return onRow_ = false;
    FetchBatch(kFetchBatch);
    if (PQntuples(batch_.get()) == 0) return onRow_ = false;
  }
  ReadRow(batchRow_++);
  return onRow_ = true;
}

bool PostgresCursor::Skip(std::int64_t rows) {
  // Only a skip that lands on a row the count says is there: one past the end steps, so
  // that the cursor keeps the last row's values.
  const std::int64_t read = rowsBeforeBatch_ + batchRow_;
  if (!countedRows_ || rows <= 0 || read + rows > *countedRows_) return Cursor::Skip(rows);
  PassOver(rows - 1);
  return Next();
}

std::int64_t PostgresCursor::PassOver(std::int64_t rows) {
  const int unread = PQntuples(batch_.get()) - batchRow_;
  if (rows <= unread || RowsToTheEnd()) {
    const int passed = static_cast<int>(std::min<std::int64_t>(rows, unread));
    batchRow_ += passed;
    return passed;
  }
  std::vector<Result> results =
      session_->RunTogether({Query("MOVE FORWARD " + std::to_string(rows - unread) + " IN " + name_),
                             Query(FetchText(kFirstFetchBatch))});
  const std::int64_t moved = std::strtoll(PQcmdTuples(results[0].get()), nullptr, 10);
  rowsBeforeBatch_ += PQntuples(batch_.get()) + moved;
  batch_ = std::move(results[1]);
  batchSize_ = kFirstFetchBatch;
  batchRow_ = 0;
  return unread + moved;
}

std::optional<std::int64_t> PostgresCursor::RowsToTheEnd() const {
  const int inBatch = PQntuples(batch_.get());
  if (inBatch == batchSize_) return std::nullopt;
  return rowsBeforeBatch_ + inBatch;
}

std::int64_t PostgresCursor::CountRows() {
  if (const auto rows = RowsToTheEnd()) return *rows;
  countedRows_ = CountOnServer(*session_, text_, params_);
  return *countedRows_;
}

std::int64_t PostgresCursor::CountRowsByStepping() {
  if (const auto rows = RowsToTheEnd()) return *rows;
  countedRows_ = CountByMoving(*session_, text_, params_);
  return *countedRows_;
}

std::string PostgresCursor::FetchText(int size) const {
  return "FETCH FORWARD " + std::to_string(size) + " FROM " + name_;
}

void PostgresCursor::FetchBatch(int size) {
  rowsBeforeBatch_ += PQntuples(batch_.get());
  batch_ = session_->Run(FetchText(size));
  batchSize_ = size;
  batchRow_ = 0;
}

void PostgresCursor::ReadRow(int rowIndex) {
  for (int i = 0; i < static_cast<int>(row_.size()); ++i) {
    ColumnValue& value = row_[i];
    if (PQgetisnull(batch_.get(), rowIndex, i)) {
      value.ValueKind = ColumnValue::Kind::kNull;
      continue;
    }
    const char* text = PQgetvalue(batch_.get(), rowIndex, i);
    value.ValueKind = kinds_[i];
    if (kinds_[i] == ColumnValue::Kind::kInteger) {
      value.Integer = std::strtoll(text, nullptr, 10);
    } else if (kinds_[i] == ColumnValue::Kind::kFloat) {
      value.Float = std::strtod(text, nullptr);
    } else {
      value.Text.assign(text, PQgetlength(batch_.get(), rowIndex, i));
    }
  }
}

void JoinTransaction(Session& session) {
  if (session.OpenCursors == 0) session.Run("BEGIN ISOLATION LEVEL REPEATABLE READ");
  ++session.OpenCursors;
}

void LeaveTransaction(Session& session) {
  if (--session.OpenCursors == 0) session.RunUnchecked("COMMIT");
}

}  // namespace db::postgres
