#include "db/sqlite/ranked_order.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>

#include "db/sqlite/candidate_table.h"
#include "db/sqlite/posting_reader.h"
#include "db/sqlite/search_index_format.h"
#include "db/sqlite/stored_order.h"

namespace db::searchindex {

namespace {

using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

Statement PrepareOrFail(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    throw OrderUnreadable(std::string("cannot rank the rows: ") + sqlite3_errmsg(db));
  }
  return Statement(statement, sqlite3_finalize);
}

// The bounds of a condition for the candidates, from the posting lists.
class BoundsReader {
 public:
  BoundsReader(sqlite3* db, const RankingPlan& plan, const RowBitmap& candidates)
      : plan_(plan),
        candidates_(candidates),
        select_(PrepareOrFail(db, std::string("SELECT chunk, data FROM ") + kPostingsTable +
                                      " WHERE col = ?1 AND gram = ?2 ORDER BY chunk")) {}

  TierBounds Read(const LikeExpression& condition) {
    if (condition.kind == LikeExpression::Kind::kTerm) return Term(condition.term);
    std::optional<TierBounds> all;
    for (const LikeExpression& part : condition.parts) {
      TierBounds bounds = Read(part);
      if (!all) {
        all = std::move(bounds);
      } else if (condition.kind == LikeExpression::Kind::kAnd) {
        all->sure.Intersect(bounds.sure);
        all->possible.Intersect(bounds.possible);
      } else {
        all->sure.Unite(bounds.sure);
        all->possible.Unite(bounds.possible);
      }
    }
    return std::move(*all);
  }

 private:
  // A term holds the lists of its grams; one whose text must begin or end the column
  // also the start or end gram of its first or last characters. One unit or pair
  // between "%"s is exact, and with those grams one that begins, ends or is the text.
  TierBounds Term(const LikeTerm& term) {
    TierBounds bounds;
    bounds.possible = candidates_;
    for (std::int64_t gram : EdgeGramKeys(term.pattern, plan_.mode, plan_.edgeGrams)) {
      bounds.possible.Intersect(List(term.column, gram));
    }
    if (EdgeGramsDecide(term.pattern, plan_.mode, plan_.edgeGrams)) bounds.sure = bounds.possible;
    return bounds;
  }

  const RowBitmap& List(int column, std::int64_t gram) {
    auto [at, added] = lists_.try_emplace({column, gram});
    if (added && !ReadList(select_.get(), column, gram, at->second)) {
      throw OrderUnreadable("a posting list of the search index cannot be read");
    }
    return at->second;
  }

  const RankingPlan& plan_;
  const RowBitmap& candidates_;
  Statement select_;
  std::map<std::pair<int, std::int64_t>, RowBitmap> lists_;  // read once a request
};

std::shared_ptr<const std::vector<TierBounds>> ReadBounds(sqlite3* db, const RankingPlan& plan,
                                                          const RowBitmap& candidates) {
  BoundsReader reader(db, plan, candidates);
  auto bounds = std::make_shared<std::vector<TierBounds>>();
  for (const auto& tier : plan.order.tiers) bounds->push_back(reader.Read(tier.first));
  return bounds;
}

// Gives the candidates tier by tier, the lowest value first, each tier's rows in the
// stored order of the ties (newest first, NULL last, then by key: the year-key order,
// or the year's order with equal years in rowid order where that is the key's order).
// A row is given in the walk of its own tier only. The order's rows are the table's:
// RankedOrder::Sequence gives none while rows are pending, in the same read transaction.
class RankedSequence : public RowSequence {
 public:
  RankedSequence(sqlite3* db, const RankingPlan& plan,
                 std::shared_ptr<const std::vector<TierBounds>> bounds, const RowBitmap& candidates)
      : db_(db),
        plan_(plan),
        bounds_(std::move(bounds)),
        candidates_(candidates),
        evaluate_(nullptr, sqlite3_finalize) {
    for (const auto& tier : plan.order.tiers) values_.push_back(tier.second);
    values_.push_back(plan.order.elseValue);
    std::sort(values_.begin(), values_.end());
    values_.erase(std::unique(values_.begin(), values_.end()), values_.end());
  }

  std::optional<std::int64_t> Next() override {
    for (;;) {
      if (!walk_) {
        if (nextValue_ == values_.size()) return std::nullopt;
        value_ = values_[nextValue_++];
        tierRows_ = RowsThatMayHave(value_);
        tierLeft_ = tierRows_.Count();
        walk_ = CandidateSequence(db_, tierRows_, plan_.tieOrder);
      }
      // A tier's last row ends its walk: the rest of a stored order (10,000,000 places)
      // holds none of its rows.
      const std::optional<std::int64_t> row = tierLeft_ > 0 ? walk_->Next() : std::nullopt;
      if (!row) {
        walk_.reset();
        continue;
      }
      --tierLeft_;
      if (TierOf(*row) == value_) return row;
    }
  }

 private:
  // The candidates whose tier may be the value: those that may meet a condition of that
  // value and surely meet no condition before it, and for the ELSE value those that
  // surely meet none.
  RowBitmap RowsThatMayHave(std::int64_t value) const {
    const auto& tiers = plan_.order.tiers;
    RowBitmap rows, earlier;
    for (std::size_t i = 0; i < tiers.size(); ++i) {
      if (tiers[i].second == value) {
        RowBitmap possible = (*bounds_)[i].possible;
        possible.Subtract(earlier);
        rows.Unite(possible);
      }
      earlier.Unite((*bounds_)[i].sure);
    }
    if (value == plan_.order.elseValue) {
      RowBitmap rest = candidates_;
      rest.Subtract(earlier);
      rows.Unite(rest);
    }
    rows.Intersect(candidates_);
    return rows;
  }

  // The value of the row's CASE: from the lists where they decide it, else from the row.
  std::int64_t TierOf(std::int64_t row) {
    const auto& tiers = plan_.order.tiers;
    for (std::size_t i = 0; i < tiers.size(); ++i) {
      if ((*bounds_)[i].sure.Contains(row)) return tiers[i].second;
      if ((*bounds_)[i].possible.Contains(row)) return Evaluated(row);
    }
    return plan_.order.elseValue;
  }

  std::int64_t Evaluated(std::int64_t row) {
    if (auto known = evaluated_.find(row); known != evaluated_.end()) return known->second;
    if (!evaluate_) {
      evaluate_ =
          PrepareOrFail(db_, "SELECT " + plan_.order.caseText + " FROM " + QuotedName(plan_.table) +
                                 " AS " + QuotedName(plan_.qualifier) + " WHERE " +
                                 QuotedName(plan_.qualifier) + ".rowid = ?1");
    }
    sqlite3_reset(evaluate_.get());
    sqlite3_bind_int64(evaluate_.get(), 1, row);
    if (sqlite3_step(evaluate_.get()) != SQLITE_ROW ||
        sqlite3_column_type(evaluate_.get(), 0) != SQLITE_INTEGER) {
      throw OrderUnreadable("cannot rank row " + std::to_string(row));
    }
    return evaluated_[row] = sqlite3_column_int64(evaluate_.get(), 0);
  }

  sqlite3* db_;
  const RankingPlan& plan_;
  std::shared_ptr<const std::vector<TierBounds>> bounds_;
  const RowBitmap& candidates_;
  std::vector<std::int64_t> values_;  // the CASE's values, ascending, each once
  std::size_t nextValue_ = 0;
  std::int64_t value_ = 0;     // the tier being walked
  RowBitmap tierRows_;         // its rows, which walk_ reads
  std::int64_t tierLeft_ = 0;  // those walk_ has not given yet
  std::unique_ptr<RowSequence> walk_;
  Statement evaluate_;
  std::unordered_map<std::int64_t, std::int64_t> evaluated_;
};

// Every row of the table sorted by SQLite by the sort list, keeping the candidates:
// the scan's order of the state being read, for rows the lists do not hold yet.
std::vector<std::int64_t> SortedBySqlite(sqlite3* db, const RankingPlan& plan,
                                         const RowBitmap& candidates) {
  const std::string qualifier = QuotedName(plan.qualifier);
  Statement select = PrepareOrFail(
      db, "SELECT " + qualifier + ".rowid FROM " + QuotedName(plan.table) + " AS " + qualifier +
              " ORDER BY " + plan.orderList + ", " + qualifier + ".rowid");
  std::vector<std::int64_t> sorted;
  int rc;
  while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
    const std::int64_t rowid = sqlite3_column_int64(select.get(), 0);
    if (candidates.Contains(rowid)) sorted.push_back(rowid);
  }
  if (rc != SQLITE_DONE) throw OrderUnreadable(std::string("cannot rank: ") + sqlite3_errmsg(db));
  return sorted;
}

}  // namespace

RankedOrder::RankedOrder(sqlite3* db, RankingPlan plan, const RowBitmap& candidates)
    : plan_(std::move(plan)),
      bounds_(ReadBounds(db, plan_, candidates)),
      dataVersion_(DataVersion(db)) {}

std::int64_t RankedOrder::Unsure() const {
  RowBitmap unsure;
  for (const TierBounds& tier : *bounds_) {
    RowBitmap open = tier.possible;
    open.Subtract(tier.sure);
    unsure.Unite(open);
  }
  return unsure.Count();
}

std::unique_ptr<RowSequence> RankedOrder::Sequence(sqlite3* db, const RowBitmap& candidates) {
  if (RowsPending(db)) return ListedSequence(SortedBySqlite(db, plan_, candidates));
  if (const unsigned now = DataVersion(db); now != dataVersion_) {
    bounds_ = ReadBounds(db, plan_, candidates);
    dataVersion_ = now;
  }
  return std::make_unique<RankedSequence>(db, plan_, bounds_, candidates);
}

std::shared_ptr<RankedOrder> PlanRanking(sqlite3* db, const SearchShape& shape,
                                         const IndexInfo& info, MatchMode mode,
                                         bool rowsFromCandidates, const RowBitmap& candidates) {
  // Few candidates SQLite sorts sooner than the lists of every tier are read.
  if (shape.orderList.empty() || !rowsFromCandidates || !shape.bookTableAt ||
      candidates.Count() * 1024 < info.rows) {
    return nullptr;
  }
  std::optional<RankingOrder> order = ParseRankingOrder(shape.orderList, shape.bookQualifier, info);
  if (!order) return nullptr;
  IndexedSort tieOrder{0, false, info.table, order->yearColumn};
  const auto year =
      std::find_if(info.orderColumns.begin(), info.orderColumns.end(),
                   [&](const std::string& c) { return NameIn(c, {order->yearColumn}); });
  if (info.yearKeyOrder.size() == 2 && NameIn(order->yearColumn, {info.yearKeyOrder[0]}) &&
      NameIn(order->keyColumn, {info.yearKeyOrder[1]})) {
    tieOrder.orderColumn = kYearKeyOrderPlace;
  } else if (year != info.orderColumns.end() && NameIn(order->keyColumn, info.rowidOrderColumns)) {
    tieOrder.orderColumn = static_cast<int>(year - info.orderColumns.begin());
    tieOrder.descending = true;
  } else {
    return nullptr;
  }
  RankingPlan plan{std::move(*order),   shape.orderList, info.table, shape.bookQualifier, mode,
                   std::move(tieOrder), info.edgeGrams};
  try {
    auto ranked = std::make_shared<RankedOrder>(db, std::move(plan), candidates);
    // Each open row costs a read of the row (a few microseconds) when a page reaches it.
    const std::int64_t most = 2048 + info.rows / 512;
    return ranked->Unsure() <= most ? ranked : nullptr;
  } catch (const OrderUnreadable&) {
    return nullptr;
  }
}

}  // namespace db::searchindex
