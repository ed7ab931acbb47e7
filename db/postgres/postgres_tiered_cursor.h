// The result of a best-match statement read tier by tier (RankedTierTexts): a cursor
// over each tier's statement, opened only when the rows before it are used up or
// passed over, so that a page reads the tiers up to its last row and no further.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/postgres/postgres_cursor.h"
#include "db/postgres/postgres_session.h"

namespace db::postgres {

class TieredCursor : public Cursor {
 public:
  // `wholeText` is the statement the tiers divide, which is counted; `tierTexts` its
  // tiers in order (at least one). Opens the tiers up to the first that has a row. The
  // cursors share the session's transaction, so all tiers read one snapshot. Throws
  // DriverError.
  TieredCursor(std::shared_ptr<Session> session, std::string wholeText,
               std::vector<std::string> tierTexts, std::vector<std::string> params);

  const std::vector<std::string>& ColumnNames() const override;
  bool OnRow() const override { return onRow_; }
  const std::vector<ColumnValue>& Row() const override;
  bool Next() override;

  // Once counted, the rows before the one it lands on are passed over on the server,
  // tier by tier; a tier passed over whole is never sorted past its end.
  bool Skip(std::int64_t rows) override;

  // Counted over the whole statement, or, once every tier was read to its end, from
  // the rows they gave.
  std::int64_t CountRows() override;
  std::int64_t CountRowsByStepping() override;

 private:
  // Opens the next tier; false when there is none.
  bool OpenNextTier();
  std::optional<std::int64_t> RowsToTheEnd() const;

  std::shared_ptr<Session> session_;
  std::string wholeText_;
  std::vector<std::string> tierTexts_;
  std::vector<std::string> params_;
  std::vector<std::unique_ptr<PostgresCursor>> tiers_;  // those opened, the last current
  PostgresCursor* lastRead_ = nullptr;                   // the tier of the row read last
  bool onRow_ = false;
  std::int64_t position_ = 0;  // rows read or passed over
  std::optional<std::int64_t> countedRows_;
};

}  // namespace db::postgres
