#include "db/postgres/postgres_tiered_cursor.h"

#include <utility>

namespace db::postgres {

TieredCursor::TieredCursor(std::shared_ptr<Session> session, std::string wholeText,
                           std::vector<std::string> tierTexts, std::vector<std::string> params)
    : session_(std::move(session)),
      wholeText_(std::move(wholeText)),
      tierTexts_(std::move(tierTexts)),
      params_(std::move(params)) {
  JoinTransaction(*session_);
  try {
    countedRows_ = CountOnServer(*session_, wholeText_, params_);
    if (countedRows_ < kFewestRowsReadByTier) tierTexts_ = {wholeText_};
    OpenFirstRow();
  } catch (...) {
    LeaveTransaction(*session_);
    throw;
  }
}

TieredCursor::~TieredCursor() {
  tiers_.clear();
  LeaveTransaction(*session_);
}

void TieredCursor::OpenFirstRow() {
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
  tiers_.push_back(std::make_unique<PostgresCursor>(session_, tierTexts_[tiers_.size()], params_));
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
  if (rows <= 0 || position_ + rows > countedRows_) return Cursor::Skip(rows);
  if (countedRows_ < kTiersSkippedFrom && tierTexts_.size() > 1) {
    // The rest is read as the whole statement, from its first row.
    const std::int64_t landing = position_ + rows;
    tiers_.clear();
    tierTexts_ = {wholeText_};
    OpenNextTier();
    lastRead_ = tiers_.back().get();
    position_ = 1;
    rows = landing - 1;
    if (rows == 0) return onRow_ = true;
  }
  for (;;) {
    const std::int64_t passed = tiers_.back()->PassOver(rows - 1);
    position_ += passed;
    rows -= passed;
    if (!Next()) return false;
    if (--rows == 0) return true;
  }
}

}  // namespace db::postgres
