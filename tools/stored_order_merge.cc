#include "tools/stored_order_merge.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "db/sqlite/search_index_format.h"
#include "tools/catalog_error.h"
#include "tools/sqlite_names.h"

namespace tools {

namespace si = db::searchindex;

namespace {

struct ValueFree {
  void operator()(sqlite3_value* value) const { sqlite3_value_free(value); }
};
using Value = std::unique_ptr<sqlite3_value, ValueFree>;

Statement Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    throw ECatalogError("cannot prepare " + sql.substr(0, 60) + ": " + sqlite3_errmsg(db));
  }
  return Statement(statement);
}

[[noreturn]] void Damaged(const std::string& column, const std::string& what) {
  throw ECatalogError("the search index is damaged: sort order of " + column + ": " + what);
}

// The values of one row in the columns of the terms.
using Values = std::vector<Value>;

// Compares two rows' values as the sorter of `ORDER BY <terms>` does: term by term, NULL
// lowest, then by SQLite's comparison under the column's collation (bound values have
// no affinity, so numbers, texts and blobs compare by their storage class as stored),
// the other way round for a DESC term.
class RowOrder {
 public:
  RowOrder(sqlite3* db, const std::string& table, const std::vector<OrderTerm>& terms)
      : terms_(terms) {
    for (const OrderTerm& term : terms) {
      const char* collation = nullptr;
      if (sqlite3_table_column_metadata(db, nullptr, table.c_str(), term.column.c_str(), nullptr,
                                        &collation, nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw ECatalogError("cannot read the collation of " + term.column + ": " +
                            sqlite3_errmsg(db));
      }
      const std::string collate = " COLLATE " + Quoted(collation ? collation : "BINARY");
      compare_.push_back(
          Prepare(db,
                  "SELECT CASE WHEN ?1 IS NULL THEN (CASE WHEN ?2 IS NULL THEN 0 ELSE -1 END)"
                  " WHEN ?2 IS NULL THEN 1 WHEN ?1 < ?2" +
                      collate + " THEN -1 WHEN ?1 = ?2" + collate + " THEN 0 ELSE 1 END"));
    }
  }

  // Below 0, 0 or above 0 as a sorts before, with or after b.
  int Compare(const Values& a, const Values& b) {
    for (std::size_t i = 0; i < compare_.size(); ++i) {
      sqlite3_stmt* compare = compare_[i].get();
      sqlite3_bind_value(compare, 1, a[i].get());
      sqlite3_bind_value(compare, 2, b[i].get());
      sqlite3_step(compare);
      const int order = sqlite3_column_int(compare, 0);
      sqlite3_reset(compare);
      if (order != 0) return terms_[i].descending ? -order : order;
    }
    return 0;
  }

 private:
  std::vector<OrderTerm> terms_;
  std::vector<Statement> compare_;  // one a term
};

struct Place {
  std::uint32_t rowid = 0, rank = 0;
};

// The stored sequence of the column, less the written rows; checks that it is one.
std::vector<Place> KeptSequence(sqlite3* db, const std::string& column, int k,
                                const std::vector<std::int64_t>& written) {
  Statement parts = Prepare(db, std::string("SELECT id, data FROM ") + si::kOrderTable +
                                    " WHERE id >= ?1 AND id < ?2 ORDER BY id");
  sqlite3_bind_int64(parts.get(), 1, si::OrderKey(k, si::OrderData::kSequence, 0));
  sqlite3_bind_int64(parts.get(), 2, si::OrderKey(k + 1, si::OrderData::kRanks, 0));
  std::vector<Place> kept;
  Place last;
  std::int64_t part = 0, places = 0;
  bool short_part = false;
  while (sqlite3_step(parts.get()) == SQLITE_ROW) {
    const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(parts.get(), 1));
    const std::size_t size = static_cast<std::size_t>(sqlite3_column_bytes(parts.get(), 1));
    if (sqlite3_column_int64(parts.get(), 0) != si::OrderKey(k, si::OrderData::kSequence, part++) ||
        short_part || size == 0 || size % si::kOrderEntryBytes != 0 ||
        size > si::kOrderEntryBytes * si::kChunkRows) {
      Damaged(column, "part " + std::to_string(part - 1));
    }
    short_part = size < si::kOrderEntryBytes * si::kChunkRows;
    for (std::size_t at = 0; at < size; at += si::kOrderEntryBytes, ++places) {
      const Place place{si::ReadUint32(data + at), si::ReadUint32(data + at + 4)};
      // Ranks start at 1 and rise by at most one; equal ranks go by rowid.
      const bool follows = places == 0 ? place.rank == 1
                                       : (place.rank == last.rank && place.rowid > last.rowid) ||
                                             place.rank == last.rank + 1;
      if (!follows) Damaged(column, "place " + std::to_string(places));
      last = place;
      if (!std::binary_search(written.begin(), written.end(), std::int64_t{place.rowid}))
        kept.push_back(place);
    }
  }
  return kept;
}

}  // namespace

void MergeWrittenRows(sqlite3* db, const std::string& table, const std::vector<OrderTerm>& terms,
                      int k, const std::vector<std::int64_t>& written,
                      const std::function<void(std::int64_t, const std::string&)>& emit) {
  std::string column, selected;  // the terms' columns, for messages and for reading
  for (const OrderTerm& term : terms) {
    column += (column.empty() ? "" : ",") + term.column;
    selected += (selected.empty() ? "" : ", ") + Quoted(term.column);
  }
  const std::vector<Place> kept = KeptSequence(db, column, k, written);
  // The first place of each group of equal rank.
  std::vector<std::size_t> groups;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i == 0 || kept[i].rank != kept[i - 1].rank) groups.push_back(i);
  }
  RowOrder order(db, table, terms);
  Statement select =
      Prepare(db, "SELECT " + selected + " FROM " + Quoted(table) + " WHERE rowid = ?1");
  // The row's values; none when no row has the rowid.
  auto valueOf = [&](std::int64_t rowid) -> Values {
    sqlite3_bind_int64(select.get(), 1, rowid);
    Values values;
    if (sqlite3_step(select.get()) == SQLITE_ROW) {
      for (int i = 0; i < static_cast<int>(terms.size()); ++i) {
        values.emplace_back(sqlite3_value_dup(sqlite3_column_value(select.get(), i)));
        if (!values.back()) throw ECatalogError("out of memory reading " + column);
      }
    }
    sqlite3_reset(select.get());
    return values;
  };

  // The written rows that exist now, in their order (equal values by rowid).
  struct Written {
    std::uint32_t rowid;
    Values value;
    std::size_t group = 0;  // the first kept group whose value is not below it
    bool joins = false;     // its value is that group's
    bool opens = false;     // the first of a new group before that group
  };
  std::vector<Written> rows;
  for (std::int64_t rowid : written) {
    if (Values value = valueOf(rowid); !value.empty())
      rows.push_back({static_cast<std::uint32_t>(rowid), std::move(value)});
  }
  std::stable_sort(rows.begin(), rows.end(), [&](const Written& a, const Written& b) {
    return order.Compare(a.value, b.value) < 0;
  });

  // Each written row's place among the kept groups; the groups' values are read once.
  std::unordered_map<std::size_t, Values> groupValues;
  auto groupValue = [&](std::size_t g) -> const Values& {
    auto found = groupValues.find(g);
    if (found == groupValues.end()) {
      Values value = valueOf(kept[groups[g]].rowid);
      if (value.empty())
        Damaged(column, "rowid " + std::to_string(kept[groups[g]].rowid) + " is gone");
      found = groupValues.emplace(g, std::move(value)).first;
    }
    return found->second;
  };
  std::size_t low = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    Written& row = rows[i];
    std::size_t high = groups.size();
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      if (order.Compare(groupValue(middle), row.value) < 0) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    row.group = low;
    row.joins = low < groups.size() && order.Compare(groupValue(low), row.value) == 0;
    row.opens = !row.joins && (i == 0 || rows[i - 1].joins || rows[i - 1].group != low ||
                               order.Compare(rows[i - 1].value, row.value) != 0);
  }

  // The merged sequence, ranked anew, and the ranks by rowid.
  // The ranks by chunk of rowids, a chunk's row made when a row of it is placed.
  std::int64_t lastChunk = 0;
  for (const Place& entry : kept) lastChunk = std::max(lastChunk, si::ChunkOf(entry.rowid));
  for (const Written& row : rows) lastChunk = std::max(lastChunk, si::ChunkOf(row.rowid));
  std::vector<std::string> ranks(static_cast<std::size_t>(lastChunk) + 1);
  std::string part;
  std::int64_t places = 0;
  std::uint32_t rank = 0;
  auto place = [&](std::uint32_t rowid) {
    si::AppendUint32(part, rowid);
    si::AppendUint32(part, rank);
    std::string& chunk = ranks[static_cast<std::size_t>(si::ChunkOf(rowid))];
    if (chunk.empty()) chunk.assign(si::kChunkRows * 4, '\0');
    for (int b = 0; b < 4; ++b) {
      chunk[si::LowBits(rowid) * 4 + b] = static_cast<char>((rank >> (8 * b)) & 0xFF);
    }
    if (++places % si::kChunkRows == 0) {
      emit(si::OrderKey(k, si::OrderData::kSequence, places / si::kChunkRows - 1), part);
      part.clear();
    }
  };
  std::size_t next = 0;  // the next written row to place
  for (std::size_t g = 0; g <= groups.size(); ++g) {
    // New values below group g, each group of them in rowid order.
    while (next < rows.size() && rows[next].group == g && !rows[next].joins) {
      if (rows[next].opens) ++rank;
      place(rows[next++].rowid);
    }
    if (g == groups.size()) break;
    ++rank;
    const std::size_t end = g + 1 < groups.size() ? groups[g + 1] : kept.size();
    for (std::size_t i = groups[g]; i < end; ++i) {
      while (next < rows.size() && rows[next].group == g && rows[next].rowid < kept[i].rowid)
        place(rows[next++].rowid);
      place(kept[i].rowid);
    }
    while (next < rows.size() && rows[next].group == g && rows[next].joins)
      place(rows[next++].rowid);
  }
  if (!part.empty()) emit(si::OrderKey(k, si::OrderData::kSequence, places / si::kChunkRows), part);
  for (std::size_t chunk = 0; chunk < ranks.size(); ++chunk) {
    if (!ranks[chunk].empty())
      emit(si::OrderKey(k, si::OrderData::kRanks, static_cast<std::int64_t>(chunk)), ranks[chunk]);
  }
}

}  // namespace tools
