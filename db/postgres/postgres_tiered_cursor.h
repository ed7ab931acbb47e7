// The result of a best-match statement read tier by tier (RankedTierTexts): a cursor
// over each tier's statement, opened only when the rows before it are used up or
// passed over, so that a page reads the tiers up to its last row and no further.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/postgres/postgres_cursor.h"
#include "db/postgres/postgres_session.h"

namespace db::postgres {

class TieredCursor : public Cursor {
 public:
  // `wholeText` is the statement the tiers divide; `tierTexts` its tiers in order (at
  // least one). Counts the whole statement first: a result of fewer than
  // kFewestRowsReadByTier rows is read as `wholeText`, whose one statement costs the
  // server less than planning every tier. Otherwise opens the tiers up to the first that
  // has a row. It and its cursors share the session's transaction, so the count and all
  // tiers read one snapshot. Throws DriverError.
  TieredCursor(std::shared_ptr<Session> session, std::string wholeText,
               std::vector<std::string> tierTexts, std::vector<std::string> params);
  ~TieredCursor() override;

  const std::vector<std::string>& ColumnNames() const override;
  bool OnRow() const override { return onRow_; }
  const std::vector<ColumnValue>& Row() const override;
  bool Next() override;

  // Once counted, the rows before the one it lands on are passed over on the server,
  // tier by tier; a tier passed over whole is never sorted past its end. In a result of
  // fewer than kTiersSkippedFrom rows the rest is read as the whole statement instead.
  bool Skip(std::int64_t rows) override;

  // Counted when the cursor opened.
  std::int64_t CountRows() override { return countedRows_; }
  std::int64_t CountRowsByStepping() override { return countedRows_; }

  // Below this many rows the whole statement is read at once (a search of 13 books: 14
  // ms of the server's time against 52 ms for its seven tiers; one of 2,711: 58 against 38).
  static constexpr std::int64_t kFewestRowsReadByTier = 1000;
  // Below this many rows a page is reached through the whole statement, one sort of its
  // rows, rather than by opening and passing over every tier before it (page 50 of a
  // search of 2,711 books: 50 ms of the server's time against 108 ms by its tiers).
  static constexpr std::int64_t kTiersSkippedFrom = 10000;

 private:
  // Opens the tiers up to the first that has a row, or all of them.
  void OpenFirstRow();
  // Opens the next tier; false when there is none.
  bool OpenNextTier();

  std::shared_ptr<Session> session_;
  std::string wholeText_;
  std::vector<std::string> tierTexts_;
  std::vector<std::string> params_;
  std::vector<std::unique_ptr<PostgresCursor>> tiers_;  // those opened, the last current
  PostgresCursor* lastRead_ = nullptr;                  // the tier of the row read last
  bool onRow_ = false;
  std::int64_t position_ = 0;  // rows read or passed over
  std::int64_t countedRows_ = 0;
};

}  // namespace db::postgres
