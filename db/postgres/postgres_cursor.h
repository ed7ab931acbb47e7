// A result read through a server-side cursor in batches, so that no result is ever held
// whole; the cursors of a session share one repeatable-read transaction.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/postgres/postgres_session.h"

namespace db::postgres {

class PostgresCursor : public Cursor {
 public:
  // Declares the cursor over `text` with `params` and reads its first batch, beginning
  // the session's transaction when no other cursor is open. Throws DriverError.
  PostgresCursor(std::shared_ptr<Session> session, std::string text,
                 std::vector<std::string> params);

  // Closing the last cursor ends the transaction; COMMIT also closes the cursor. A
  // failure here leaves nothing to mend: an aborted transaction is rolled back by it.
  ~PostgresCursor() override;

  const std::vector<std::string>& ColumnNames() const override { return columnNames_; }
  bool OnRow() const override { return onRow_; }
  const std::vector<ColumnValue>& Row() const override { return row_; }

  bool Next() override;

  // Passes over up to `rows` rows after the current one without reading them (those not
  // fetched yet stay on the server: MOVE), so that Next reads the row after them; gives
  // how many there were, fewer only when the result ended.
  std::int64_t PassOver(std::int64_t rows);

  // The rows of the whole result when the last batch fetched was its end.
  std::optional<std::int64_t> RowsToTheEnd() const;

  // Once the result is counted, the rows before a page that are not fetched yet are
  // passed over on the server (MOVE), which neither converts nor sends them.
  bool Skip(std::int64_t rows) override;

  // COUNT(*) over the statement as a subquery (CountText), in the cursor's own snapshot;
  // no statement once the cursor has fetched the last row (a result shorter than the
  // first batch, a small search's): it knows the count then.
  std::int64_t CountRows() override;

  // A second cursor moved over the whole result: the server counts without sending rows.
  // As CountRows, none once the last row is fetched.
  std::int64_t CountRowsByStepping() override;

 private:
  std::string FetchText(int size) const;
  void FetchBatch(int size);
  void ReadRow(int rowIndex);

  std::shared_ptr<Session> session_;
  std::string text_;
  std::vector<std::string> params_;
  std::string name_;
  Result batch_;
  int batchSize_ = 0;
  int batchRow_ = 0;
  std::vector<std::string> columnNames_;
  std::vector<ColumnValue::Kind> kinds_;
  std::vector<ColumnValue> row_;
  bool onRow_ = false;
  std::int64_t rowsBeforeBatch_ = 0;         // rows of the batches before batch_, and passed over
  std::optional<std::int64_t> countedRows_;  // the count, once the server counted
};

// A reader of the session's repeatable-read transaction joins it, beginning it when no
// other reader has; the last to leave ends it (a failure there leaves nothing to mend:
// an aborted transaction is rolled back by COMMIT).
void JoinTransaction(Session& session);
void LeaveTransaction(Session& session);

// The rows of the result of `text` with `params`, counted on the server inside a
// savepoint of the session's transaction, so that a failure leaves it and its cursors
// usable: COUNT(*) over it (CountText), or a second cursor moved over it.
std::int64_t CountOnServer(Session& session, const std::string& text,
                           const std::vector<std::string>& params);
std::int64_t CountByMoving(Session& session, const std::string& text,
                           const std::vector<std::string>& params);

}  // namespace db::postgres
