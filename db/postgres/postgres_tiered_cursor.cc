#include "db/postgres/postgres_tiered_cursor.h"

#include <utility>

namespace db::postgres {

TieredCursor::TieredCursor(std::shared_ptr<Session> session, std::string wholeText,
                           std::vector<std::string> tierTexts, std::vector<std::string> params)
    : session_(std::move(session)),
      wholeText_(std::move(wholeText)),
      tierTexts_(std::move(tierTexts)),
      params_(std::move(params)) {
  OpenNextTier();
  lastRead_ = tiers_.back().get();
  while (!tiers_.back()->OnRow() && OpenNextTier()) {
  }
  onRow_ = tiers_.back()->OnRow();
  if (onRow_) {
    lastRead_ = tiers_.back().get();
    position_ = 1;
  }
}

bool TieredCursor::OpenNextTier() {
  if (tiers_.size() == tierTexts_.size()) return false;
  tiers_.push_back(
      std::make_unique<PostgresCursor>(session_, tierTexts_[tiers_.size()], params_));
  return true;
}

const std::vector<std::string>& TieredCursor::ColumnNames() const {
  return tiers_.front()->ColumnNames();
}

const std::vector<ColumnValue>& TieredCursor::Row() const { return lastRead_->Row(); }

bool TieredCursor::Next() {
  if (tiers_.back()->Next()) {
    lastRead_ = tiers_.back().get();
  } else {
    // A tier opened stands on its first row, if it has one.
    while (OpenNextTier() && !tiers_.back()->OnRow()) {
    }
    if (!tiers_.back()->OnRow()) return onRow_ = false;
    lastRead_ = tiers_.back().get();
  }
  ++position_;
  return onRow_ = true;
}

bool TieredCursor::Skip(std::int64_t rows) {
  // As PostgresCursor::Skip: only onto a row the count says is there.
  if (!countedRows_ || rows <= 0 || position_ + rows > *countedRows_) return Cursor::Skip(rows);
  for (;;) {
    const std::int64_t passed = tiers_.back()->PassOver(rows - 1);
    position_ += passed;
    rows -= passed;
    if (!Next()) return false;
    if (--rows == 0) return true;
  }
}

std::optional<std::int64_t> TieredCursor::RowsToTheEnd() const {
  if (tiers_.size() < tierTexts_.size()) return std::nullopt;
  std::int64_t rows = 0;
  for (const auto& tier : tiers_) {
    const auto tierRows = tier->RowsToTheEnd();
    if (!tierRows) return std::nullopt;
    rows += *tierRows;
  }
  return rows;
}

std::int64_t TieredCursor::CountRows() {
  if (const auto rows = RowsToTheEnd()) return *rows;
  countedRows_ = CountOnServer(*session_, wholeText_, params_);
  return *countedRows_;
}

std::int64_t TieredCursor::CountRowsByStepping() {
  if (const auto rows = RowsToTheEnd()) return *rows;
  countedRows_ = CountByMoving(*session_, wholeText_, params_);
  return *countedRows_;
}

}  // namespace db::postgres
