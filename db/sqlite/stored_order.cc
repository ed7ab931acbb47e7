#include "db/sqlite/stored_order.h"

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

#include "db/sqlite/search_index_format.h"

namespace db::searchindex {

namespace {

[[noreturn]] void ThrowOrderUnreadable(sqlite3* db) {
  throw OrderUnreadable(std::string("cannot read the sort order: ") + sqlite3_errmsg(db));
}

}  // namespace

OrderStatement PrepareOrderRead(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    ThrowOrderUnreadable(db);
  }
  return OrderStatement(statement);
}

KeptStatement KeptOrderRead(sqlite3* db, const std::string& sql) {
  KeptStatement statement(db, sql);
  if (!statement) ThrowOrderUnreadable(db);
  return statement;
}

bool StepOrderRead(sqlite3* db, sqlite3_stmt* statement) {
  const int rc = sqlite3_step(statement);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  ThrowOrderUnreadable(db);
}

std::string QuotedName(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

bool OrderFollowsUpdates(sqlite3* db, const std::string& column) {
  return KeptFact<bool>(db, "follows " + column, [&] {
    const KeptStatement trigger(db,
                                "SELECT sql FROM sqlite_master WHERE type = 'trigger'"
                                " AND name = 'liraidx_after_update'");
    if (!trigger || sqlite3_step(trigger.get()) != SQLITE_ROW) return false;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(trigger.get(), 0));
    // The trigger compares each column as "CAST(OLD.<quoted name> AS BLOB)".
    return text && std::string_view(text).find("CAST(OLD." + QuotedName(column) + " AS BLOB)") !=
                       std::string_view::npos;
  });
}

namespace {

class BitmapSequence : public RowSequence {
 public:
  explicit BitmapSequence(const RowBitmap& rows) : rows_(rows) {}
  std::optional<std::int64_t> Next() override {
    at_ = started_ ? (at_ ? rows_.After(*at_) : std::nullopt) : rows_.First();
    started_ = true;
    return at_;
  }
  // Counted in the bitmap's words: no rowid before the one landed on is looked at.
  void Skip(std::int64_t rows) override {
    if (rows <= 0) return;
    const std::optional<std::int64_t> from =
        started_ ? (at_ ? rows_.After(*at_) : std::nullopt) : rows_.First();
    at_ = from ? rows_.NthFrom(*from, rows - 1) : std::nullopt;
    started_ = true;
  }

 private:
  const RowBitmap& rows_;
  std::optional<std::int64_t> at_;
  bool started_ = false;
};

class ListSequence : public RowSequence {
 public:
  explicit ListSequence(std::vector<std::int64_t> rows) : rows_(std::move(rows)) {}
  std::optional<std::int64_t> Next() override {
    if (next_ == rows_.size()) return std::nullopt;
    return rows_[next_++];
  }
  void Skip(std::int64_t rows) override {
    if (rows > 0) next_ += std::min(static_cast<std::size_t>(rows), rows_.size() - next_);
  }

 private:
  std::vector<std::int64_t> rows_;
  std::size_t next_ = 0;
};

// The rows sorted by SQLite from the column's values: what a scan gives, for rows
// written since the order was stored. Reads every row of the table once.
std::vector<std::int64_t> SortedBySqlite(sqlite3* db, const RowBitmap& rows,
                                         const IndexedSort& sort) {
  OrderStatement select = PrepareOrderRead(
      db, "SELECT rowid FROM " + QuotedName(sort.table) + " ORDER BY +" + QuotedName(sort.column) +
              (sort.descending ? " DESC" : " ASC") + ", rowid");
  std::vector<std::int64_t> sorted;
  while (StepOrderRead(db, select.get())) {
    const std::int64_t rowid = sqlite3_column_int64(select.get(), 0);
    if (rows.Contains(rowid)) sorted.push_back(rowid);
  }
  return sorted;
}

// The rows put in order by the rank of each, read from the stored ranks.
std::vector<std::int64_t> SortedByRank(sqlite3* db, const RowBitmap& rows,
                                       const IndexedSort& sort) {
  std::vector<std::pair<std::uint32_t, std::int64_t>> ranked;
  sqlite3_blob* blob = nullptr;
  std::int64_t openChunk = -1;
  auto fail = [&](const std::string& what) {
    sqlite3_blob_close(blob);
    throw OrderUnreadable("cannot read the sort order: " + what);
  };
  for (std::optional<std::int64_t> row = rows.First(); row; row = rows.After(*row)) {
    if (*row < 0 || *row >= (std::int64_t{1} << 32)) fail("a rowid out of its range");
    if (ChunkOf(*row) != openChunk) {
      openChunk = ChunkOf(*row);
      const std::int64_t key = OrderKey(sort.orderColumn, OrderData::kRanks, openChunk);
      const int rc = blob ? sqlite3_blob_reopen(blob, key)
                          : sqlite3_blob_open(db, "main", kOrderTable, "data", key, 0, &blob);
      if (rc != SQLITE_OK) fail(sqlite3_errmsg(db));
      if (sqlite3_blob_bytes(blob) != kChunkRows * 4) fail("a rank list of the wrong size");
    }
    unsigned char bytes[4];
    if (sqlite3_blob_read(blob, bytes, 4, LowBits(*row) * 4) != SQLITE_OK) {
      fail(sqlite3_errmsg(db));
    }
    const std::uint32_t rank = ReadUint32(bytes);
    if (rank == 0) fail("no rank for row " + std::to_string(*row));
    ranked.emplace_back(rank, *row);
  }
  sqlite3_blob_close(blob);
  // Equal ranks keep rowid order, in both directions: the rows came in rowid order.
  if (sort.descending) {
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
  } else {
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  std::vector<std::int64_t> sorted;
  sorted.reserve(ranked.size());
  for (const auto& entry : ranked) sorted.push_back(entry.second);
  return sorted;
}

// The stored sequence of a column, walked from its first place (ASC) or from its last
// group of equal values back to its first, each group in rowid order (DESC), keeping
// the rows of the set. Reads a part of the sequence at a time, as far as it is asked.
class OrderWalk : public RowSequence {
 public:
  OrderWalk(sqlite3* db, const RowBitmap& rows, const IndexedSort& sort)
      : db_(db),
        rows_(rows),
        sort_(sort),
        select_(
            KeptOrderRead(db, std::string("SELECT data FROM ") + kOrderTable + " WHERE id = ?1")) {
    const KeptStatement last =
        KeptOrderRead(db, std::string("SELECT id, length(data) FROM ") + kOrderTable +
                              " WHERE id BETWEEN ?1 AND ?2 ORDER BY id DESC LIMIT 1");
    const std::int64_t first = OrderKey(sort.orderColumn, OrderData::kSequence, 0);
    sqlite3_bind_int64(last.get(), 1, first);
    sqlite3_bind_int64(last.get(), 2, first + (std::int64_t{1} << 38));
    if (StepOrderRead(db, last.get())) {
      places_ = (sqlite3_column_int64(last.get(), 0) - first) * kChunkRows +
                sqlite3_column_int64(last.get(), 1) / static_cast<std::int64_t>(kOrderEntryBytes);
    }
    groupStart_ = groupEnd_ = next_ = sort.descending ? places_ : 0;
  }

  // The places of the sequence: the rows of the table when it was stored.
  std::int64_t Places() const { return places_; }

  std::optional<std::int64_t> Next() override {
    for (;;) {
      if (!sort_.descending) {
        if (next_ == places_) return std::nullopt;
        const std::int64_t rowid = At(next_++).first;
        if (rows_.Contains(rowid)) return rowid;
        continue;
      }
      if (next_ < groupEnd_) {
        const std::int64_t rowid = At(next_++).first;
        if (rows_.Contains(rowid)) return rowid;
        continue;
      }
      // The group of equal values before the one just given.
      if (groupStart_ == 0) return std::nullopt;
      groupEnd_ = groupStart_;
      groupStart_ = GroupStart(groupEnd_);
      next_ = groupStart_;
    }
  }

 private:
  // The first place of the group of equal values that ends before `end`: found by
  // steps back that double, then halving, so that a group of many rows (a class most
  // books share) costs a few reads, not one a row.
  std::int64_t GroupStart(std::int64_t end) {
    const std::uint32_t rank = At(end - 1).second;
    std::int64_t inside = end - 1;  // a place of the group
    std::int64_t before = -1;       // a place before the group; -1 when none is known
    for (std::int64_t step = 1; before < 0 && inside > 0; step *= 2) {
      const std::int64_t probe = std::max<std::int64_t>(inside - step, 0);
      if (At(probe).second == rank) {
        inside = probe;
      } else {
        before = probe;
      }
    }
    if (before < 0) return inside;  // the group begins the sequence
    // Ranks ascend along the sequence: between `before` and `inside` lies one change.
    while (inside - before > 1) {
      const std::int64_t middle = before + (inside - before) / 2;
      if (At(middle).second == rank) {
        inside = middle;
      } else {
        before = middle;
      }
    }
    return inside;
  }

  // The rowid and rank at a place of the sequence.
  std::pair<std::int64_t, std::uint32_t> At(std::int64_t place) {
    const std::int64_t part = place >> kChunkBits;
    auto held = std::find_if(parts_.begin(), parts_.end(),
                             [part](const auto& entry) { return entry.first == part; });
    if (held == parts_.end()) {
      sqlite3_reset(select_.get());
      sqlite3_bind_int64(select_.get(), 1, OrderKey(sort_.orderColumn, OrderData::kSequence, part));
      if (!StepOrderRead(db_, select_.get()))
        throw OrderUnreadable("a part of a sort order is missing");
      const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(select_.get(), 0));
      const auto size = static_cast<std::size_t>(sqlite3_column_bytes(select_.get(), 0));
      // A few parts are kept: a group of equal values is read back, then forward.
      if (parts_.size() == kPartsHeld) parts_.pop_front();
      parts_.emplace_back(part, std::vector<unsigned char>(data, data + size));
      held = std::prev(parts_.end());
    }
    const std::size_t offset =
        static_cast<std::size_t>(place & (kChunkRows - 1)) * kOrderEntryBytes;
    if (offset + kOrderEntryBytes > held->second.size()) {
      throw OrderUnreadable("a part of a sort order is cut short");
    }
    const unsigned char* entry = held->second.data() + offset;
    return {ReadUint32(entry), ReadUint32(entry + 4)};
  }

  static constexpr std::size_t kPartsHeld = 4;
  sqlite3* db_;
  const RowBitmap& rows_;
  IndexedSort sort_;
  KeptStatement select_;
  std::deque<std::pair<std::int64_t, std::vector<unsigned char>>> parts_;
  std::int64_t places_ = 0;
  std::int64_t next_ = 0;  // the next place to give
  // DESC: the group of equal values being given.
  std::int64_t groupStart_ = 0, groupEnd_ = 0;
};

}  // namespace

bool RowsPending(sqlite3* db) {
  const KeptStatement pending =
      KeptOrderRead(db, std::string("SELECT 1 FROM ") + kPendingTable + " LIMIT 1");
  return StepOrderRead(db, pending.get());
}

std::unique_ptr<RowSequence> ListedSequence(std::vector<std::int64_t> rows) {
  return std::make_unique<ListSequence>(std::move(rows));
}

std::unique_ptr<RowSequence> CandidateSequence(sqlite3* db, const RowBitmap& rows,
                                               const std::optional<IndexedSort>& sort) {
  if (!sort) return std::make_unique<BitmapSequence>(rows);
  if (RowsPending(db)) {
    return std::make_unique<ListSequence>(SortedBySqlite(db, rows, *sort));
  }
  auto walk = std::make_unique<OrderWalk>(db, rows, *sort);
  // Walking to a page passes about (rows before it) * places / count entries of the
  // sequence; ranking reads one rank a candidate. For a page of the first fifty or so
  // the two meet near the square root of 1,024 * places.
  const double count = static_cast<double>(rows.Count());
  if (count * count <= 1024.0 * static_cast<double>(walk->Places())) {
    return std::make_unique<ListSequence>(SortedByRank(db, rows, *sort));
  }
  return walk;
}

}  // namespace db::searchindex
