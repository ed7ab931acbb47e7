#include "db/sqlite/group_counts.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>

#include "db/sqlite/candidate_table.h"
#include "db/sqlite/coded_walk.h"
#include "db/sqlite/joined_codes.h"
#include "db/sqlite/search_index.h"
#include "db/sqlite/search_index_format.h"
#include "db/sqlite/stored_order.h"

namespace db::searchindex {

namespace {

using Kind = ColumnValue::Kind;

// Ranks above this are left to the rows: the slot of each rank is held in a vector.
constexpr std::uint32_t kMostRank = std::uint32_t{1} << 24;
// A chunk holding more candidates than this has its ranks read whole (256 KiB) rather
// than four bytes a candidate.
constexpr std::size_t kWholeChunkRows = 1024;

// The stored ranks of one kept column, a chunk of rowids at a time.
class RankReader {
 public:
  RankReader(sqlite3* db, int orderColumn) : db_(db), orderColumn_(orderColumn) {}
  ~RankReader() { sqlite3_blob_close(blob_); }
  RankReader(const RankReader&) = delete;
  RankReader& operator=(const RankReader&) = delete;

  // The rank of each rowid, all of the chunk, into ranks. Raises OrderUnreadable.
  void Read(std::int64_t chunk, const std::vector<std::int64_t>& rowids,
            std::vector<std::uint32_t>& ranks) {
    const std::int64_t key = OrderKey(orderColumn_, OrderData::kRanks, chunk);
    const int rc = blob_ ? sqlite3_blob_reopen(blob_, key)
                         : sqlite3_blob_open(db_, "main", kOrderTable, "data", key, 0, &blob_);
    if (rc != SQLITE_OK) Fail(sqlite3_errmsg(db_));
    if (sqlite3_blob_bytes(blob_) != kChunkRows * 4) Fail("a rank list of the wrong size");
    ranks.resize(rowids.size());
    unsigned char bytes[4];
    if (rowids.size() > kWholeChunkRows) {
      whole_.resize(kChunkRows * 4);
      if (sqlite3_blob_read(blob_, whole_.data(), kChunkRows * 4, 0) != SQLITE_OK) {
        Fail(sqlite3_errmsg(db_));
      }
    }
    for (std::size_t i = 0; i < rowids.size(); ++i) {
      const unsigned char* at = bytes;
      if (rowids.size() > kWholeChunkRows) {
        at = whole_.data() + LowBits(rowids[i]) * 4;
      } else if (sqlite3_blob_read(blob_, bytes, 4, LowBits(rowids[i]) * 4) != SQLITE_OK) {
        Fail(sqlite3_errmsg(db_));
      }
      ranks[i] = ReadUint32(at);
      if (ranks[i] == 0) Fail("no rank for row " + std::to_string(rowids[i]));
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw OrderUnreadable("cannot read the sort order: " + what);
  }

  sqlite3* db_;
  int orderColumn_;
  sqlite3_blob* blob_ = nullptr;
  std::vector<unsigned char> whole_;
};

// One column being counted. Each value (a rank, or a joined row's value) met gets a
// slot at its first sight; a group is a tuple of slots.
struct Counted {
  GroupedColumn column;
  std::unique_ptr<RankReader> ranks;              // a kept column of the book table
  std::unique_ptr<JoinedCodeReader> joinedCodes;  // a joined column the index codes
  const std::array<std::uint8_t, kChunkRows>* joinedChunk = nullptr;  // and its chunk read
  std::size_t codePlace = SIZE_MAX;       // a coded one: its place among the coded columns
  std::size_t codeRead = 0;               // and its place among those read
  std::vector<std::uint32_t> slotOfRank;  // rank -> slot + 1; 0 for a rank not met
  std::vector<std::uint32_t> rankOfSlot;
  std::vector<std::int64_t> firstRow;  // slot -> a rowid of that rank
  // A joined column: (book rowid, slot) of each joined row of a candidate, by rowid;
  // a candidate without one is slot 0, the null value.
  std::vector<std::pair<std::int64_t, std::uint32_t>> joined;
  std::size_t nextJoined = 0;
  std::vector<ColumnValue> values;  // slot -> value, cut to the prefix

  std::uint32_t RankSlot(std::uint32_t rank, std::int64_t rowid) {
    if (rank >= slotOfRank.size()) slotOfRank.resize(rank + 1);
    if (slotOfRank[rank] == 0) {
      rankOfSlot.push_back(rank);
      firstRow.push_back(rowid);
      slotOfRank[rank] = static_cast<std::uint32_t>(rankOfSlot.size());
    }
    return slotOfRank[rank] - 1;
  }

  // The rowids come ascending, so the joined rows are walked once.
  std::uint32_t JoinedSlot(std::int64_t rowid) {
    while (nextJoined < joined.size() && joined[nextJoined].first < rowid) ++nextJoined;
    return nextJoined < joined.size() && joined[nextJoined].first == rowid
               ? joined[nextJoined].second
               : 0;
  }
};

// The number of rows of the table, about: its largest rowid (rowids are handed out
// ascending), or the number of books when it has none (WITHOUT ROWID), so that the
// table is then read whole.
std::int64_t RowsAbout(sqlite3* db, const std::string& table, std::int64_t books) {
  sqlite3_stmt* statement = nullptr;
  std::int64_t rows = books;
  const std::string sql = "SELECT max(rowid) FROM " + QuotedName(table);
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    rows = sqlite3_column_int64(statement, 0);
  }
  sqlite3_finalize(statement);
  return rows;
}

// The statement giving each joined row's book rowid and the column's value: from the
// books the index keeps for the join's rows when it keeps them (a look-up by rowid a
// row), else by the join (a look-up of the book by its key a row).
std::string JoinedRowsSql(const GroupingSource& source, const OneRowJoin& join,
                          const std::string& column, bool keptBooks) {
  const std::string joined = QuotedName(join.table) + " AS liraidx_j";
  if (keptBooks) {
    return "SELECT liraidx_m.book_rowid, liraidx_j." + QuotedName(column) + " FROM " +
           kJoinedBooksTable + " AS liraidx_m JOIN " + joined +
           " ON liraidx_j.rowid = liraidx_m.joined_rowid WHERE liraidx_m.book_rowid IS NOT NULL";
  }
  return "SELECT liraidx_b.rowid, liraidx_j." + QuotedName(column) + " FROM " + joined + " JOIN " +
         QuotedName(source.table) + " AS liraidx_b ON liraidx_b." + QuotedName(join.bookColumn) +
         " = liraidx_j." + QuotedName(join.joinedColumn);
}

// The joined rows of the candidates with their values; false when a book meets two.
// Where the index keeps the books of the joined rows, or the candidates outnumber the
// joined rows, the joined table is read whole; fewer candidates look up their joined
// row each.
bool ReadJoined(sqlite3* db, const RowBitmap& rows, const GroupingSource& source,
                const OneRowJoin& join, Counted& counted) {
  const std::int64_t candidates = rows.Count();
  const bool keptBooks = source.joinedBooks && SameJoin(*source.joinedBooks, join);
  const bool byCandidate = !keptBooks && candidates < RowsAbout(db, join.table, candidates + 1);
  const std::string sql = JoinedRowsSql(source, join, counted.column.column, keptBooks);
  // Each joined value met gets a slot; slot 0 is the null of a book without a row.
  std::map<std::string, std::uint32_t> slots = {{GroupKeyBytes({}), 0}};
  std::vector<ColumnValue> values = {ColumnValue{}};
  auto slotOf = [&](sqlite3_stmt* select) {
    ColumnValue value = CutValue(ReadColumnValue(select, 1), counted.column.prefix);
    auto [at, added] =
        slots.emplace(GroupKeyBytes(value), static_cast<std::uint32_t>(values.size()));
    if (added) values.push_back(std::move(value));
    return at->second;
  };
  if (byCandidate) {
    OrderStatement select = PrepareOrderRead(db, sql + " WHERE liraidx_b.rowid = ?1");
    for (std::optional<std::int64_t> row = rows.First(); row; row = rows.After(*row)) {
      sqlite3_reset(select.get());
      sqlite3_bind_int64(select.get(), 1, *row);
      while (StepOrderRead(db, select.get()))
        counted.joined.emplace_back(*row, slotOf(select.get()));
    }
    counted.values = std::move(values);
  } else {
    // The table read whole is kept for the next count or filter of the same state.
    JoinedRead read;
    JoinedRead& whole = source.lastJoinedRead ? *source.lastJoinedRead : read;
    const unsigned version = DataVersion(db);
    if (whole.rows.empty() || whole.sql != sql || whole.prefix != counted.column.prefix ||
        whole.dataVersion != version) {
      OrderStatement select = PrepareOrderRead(db, sql);
      read = {sql, counted.column.prefix, version, {}, {}};
      while (StepOrderRead(db, select.get())) {
        read.rows.emplace_back(sqlite3_column_int64(select.get(), 0), slotOf(select.get()));
      }
      std::sort(read.rows.begin(), read.rows.end());
      read.values = std::move(values);
      if (&whole != &read) whole = std::move(read);
    }
    counted.values = whole.values;
    for (const auto& [rowid, slot] : whole.rows) {
      if (rows.Contains(rowid)) counted.joined.emplace_back(rowid, slot);
    }
  }
  // Both ways give the rows by book rowid.
  for (std::size_t i = 1; i < counted.joined.size(); ++i) {
    if (counted.joined[i].first == counted.joined[i - 1].first) return false;
  }
  return true;
}

// Counts of several sets of columns where every column is coded and each set's codes
// make few cells: each row adds one to a cell of each set's table, in one walk of the
// candidates' codes. nullopt otherwise.
std::optional<std::vector<std::vector<GroupCount>>> CountSetsByCodes(
    sqlite3* db, const RowBitmap& rows, const GroupingSource& source,
    const std::vector<std::vector<GroupedColumn>>& sets) {
  constexpr std::size_t kMostCells = std::size_t{1} << 20;
  const std::unique_ptr<CodedWalk> walk = CodedWalk::Open(db, source, sets, kMostCells);
  if (!walk) return std::nullopt;
  std::vector<std::vector<std::int64_t>> counts;
  for (std::size_t s = 0; s < sets.size(); ++s) counts.emplace_back(walk->Cells(s));
  const bool walked = walk->Walk(
      rows,
      [&](const CodedWalk::Block& block) {
        for (std::size_t w = 0; w < block.words.size(); ++w) {
          if (block.words[w] == 0) continue;
          for (std::size_t s = 0; s < counts.size(); ++s)
            CodedWalk::CountWord(block.words[w], block.cells[s] + w * 64, counts[s].data());
        }
      },
      [](std::int64_t) {});
  if (!walked) return std::nullopt;
  std::vector<std::vector<GroupCount>> result;
  for (std::size_t s = 0; s < sets.size(); ++s) result.push_back(walk->Groups(s, counts[s]));
  return result;
}

// The values of the ranks met, each read from one row of its rank. With a prefix the
// sorted ranks fall into runs of one prefix (the column compares as bytes), and only
// the ends of each run are looked for, by halving.
void ResolveRanks(sqlite3* db, const std::string& table, Counted& counted) {
  OrderStatement select =
      PrepareOrderRead(db, "SELECT " + QuotedName(counted.column.column) + " FROM " +
                               QuotedName(table) + " WHERE rowid = ?1");
  auto valueOf = [&](std::uint32_t slot) {
    sqlite3_reset(select.get());
    sqlite3_bind_int64(select.get(), 1, counted.firstRow[slot]);
    if (!StepOrderRead(db, select.get())) throw OrderUnreadable("a ranked row is missing");
    return CutValue(ReadColumnValue(select.get(), 0), counted.column.prefix);
  };
  std::vector<std::uint32_t> byRank(counted.rankOfSlot.size());
  for (std::uint32_t slot = 0; slot < byRank.size(); ++slot) byRank[slot] = slot;
  std::sort(byRank.begin(), byRank.end(), [&](std::uint32_t a, std::uint32_t b) {
    return counted.rankOfSlot[a] < counted.rankOfSlot[b];
  });
  counted.values.assign(byRank.size(), ColumnValue{});
  for (std::size_t first = 0; first < byRank.size();) {
    ColumnValue value = valueOf(byRank[first]);
    std::size_t last = first;
    if (counted.column.prefix > 0) {
      const std::string key = GroupKeyBytes(value);
      for (std::size_t high = byRank.size() - 1; last < high;) {
        const std::size_t middle = last + (high - last + 1) / 2;
        if (GroupKeyBytes(valueOf(byRank[middle])) == key) {
          last = middle;
        } else {
          high = middle - 1;
        }
      }
    }
    for (std::size_t i = first; i <= last; ++i) counted.values[byRank[i]] = value;
    first = last + 1;
  }
}

}  // namespace

bool SameColumn(const GroupedColumn& a, const GroupedColumn& b) {
  return NameIn(a.table, {b.table}) && NameIn(a.column, {b.column}) && a.prefix == b.prefix;
}

bool SameColumns(const std::vector<GroupedColumn>& a, const std::vector<GroupedColumn>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameColumn);
}

bool FewRows(const RowBitmap& rows, const GroupingSource& source) {
  constexpr std::int64_t kFewestCounted = 16384;  // see the header
  return rows.Count() < std::min(kFewestCounted, source.books / 64);
}

bool FewRowsForCodes(const RowBitmap& rows) {
  constexpr std::int64_t kFewestAChunk = 16;  // see the header
  return rows.Count() < kFewestAChunk * static_cast<std::int64_t>(rows.Chunks());
}

std::optional<RowTuples> TupleOfEachRow(sqlite3* db, const RowBitmap& rows,
                                        const GroupingSource& source,
                                        const std::vector<GroupedColumn>& columns,
                                        const TupleVisit& visit) {
  if (columns.empty() || columns.size() > 8) return std::nullopt;
  std::vector<Counted> counted(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) {
    counted[c].column = columns[c];
    const GroupedColumn& column = columns[c];
    if (NameIn(column.table, {source.table})) {
      if (const std::optional<std::size_t> place = CodedPlace(db, source, column)) {
        counted[c].codePlace = *place;
        counted[c].values = ReadCodeValues(db, *place, column.prefix);
        continue;
      }
      const auto kept =
          std::find_if(source.orderColumns.begin(), source.orderColumns.end(),
                       [&](const std::string& name) { return NameIn(name, {column.column}); });
      if (kept == source.orderColumns.end() || !ComparedAsBytes(db, source.table, column.column) ||
          !OrderFollowsUpdates(db, *kept)) {
        return std::nullopt;
      }
      counted[c].ranks =
          std::make_unique<RankReader>(db, static_cast<int>(kept - source.orderColumns.begin()));
      continue;
    }
    const OneRowJoin* join = JoinOfColumn(source, column);
    if (!join || !ComparedAsBytes(db, join->table, column.column)) return std::nullopt;
    // The loans' codes where the index keeps them for this join and column, else the
    // joined table read.
    counted[c].joinedCodes = JoinedCodesOf(db, source, *join, column);
    if (counted[c].joinedCodes) {
      counted[c].values = counted[c].joinedCodes->Values();
      continue;
    }
    if (!ReadJoined(db, rows, source, *join, counted[c])) {
      return std::nullopt;
    }
  }
  // One read of a chunk's codes for every coded column.
  std::vector<std::size_t> codedPlaces;
  for (Counted& column : counted) {
    if (column.codePlace == SIZE_MAX) continue;
    column.codeRead = codedPlaces.size();
    codedPlaces.push_back(column.codePlace);
  }
  std::optional<BookCodeReader> codes;
  if (!codedPlaces.empty()) codes.emplace(db, codedPlaces);
  const bool valueIds = std::none_of(counted.begin(), counted.end(),
                                     [](const Counted& column) { return column.ranks != nullptr; });
  // Where every column's values are known before the walk (codes, a joined table read
  // whole) and their combinations are few, a tuple's id is its cell in the table of
  // all combinations, the first column varying slowest: no hash a row.
  constexpr std::uint64_t kMostCells = std::uint64_t{1} << 16;
  std::uint64_t cells = valueIds ? 1 : 0;
  for (const Counted& column : counted) {
    if (cells == 0 || cells * column.values.size() > kMostCells) {
      cells = 0;
      break;
    }
    cells *= column.values.size();
  }
  // A tuple of slots, packed into 64 bits, is one tuple id; one column's slot is its id.
  const int bits = 64 / static_cast<int>(columns.size());
  const std::uint64_t slotLimit = bits == 64 ? UINT64_MAX : (std::uint64_t{1} << bits);
  std::unordered_map<std::uint64_t, std::uint32_t> idOfKey;
  std::vector<std::uint64_t> keyOfId;
  std::vector<std::int64_t> rowOfId;  // a candidate of each tuple id; -1 for none
  std::uint32_t lastId = 0;           // the id of the last tuple hashed
  // The id of a tuple met lately, by a few bits of its key: the tuples are few beside
  // the rows (a loan state's four columns hold a dozen), so most rows find theirs here
  // without the map.
  constexpr std::size_t kRecentTuples = 256;
  std::vector<std::uint32_t> recentId(kRecentTuples, UINT32_MAX);
  auto recentSlot = [](std::uint64_t key) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> 56);
  };
  std::vector<std::vector<std::uint32_t>> ranks(columns.size());
  // Visits the candidates of one chunk; false when a rowid, a rank or a slot is beyond
  // its bound.
  std::vector<std::uint32_t> ids;
  auto visitChunk = [&](const std::vector<std::int64_t>& chunkRows) {
    // Ranks are kept only for rowids in [0, 2^32).
    if (chunkRows.front() < 0 || chunkRows.back() >= (std::int64_t{1} << 32)) return false;
    const std::int64_t chunk = ChunkOf(chunkRows.front());
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (counted[c].ranks) counted[c].ranks->Read(chunk, chunkRows, ranks[c]);
      if (counted[c].joinedCodes) counted[c].joinedChunk = &counted[c].joinedCodes->Read(chunk);
    }
    if (codes) codes->Read(chunk, chunkRows);
    ids.resize(chunkRows.size());
    for (std::size_t i = 0; i < chunkRows.size(); ++i) {
      std::uint64_t key = 0;
      for (std::size_t c = 0; c < columns.size(); ++c) {
        std::uint32_t slot;
        if (counted[c].codePlace != SIZE_MAX) {
          slot = codes->CodeOfBook(counted[c].codeRead, chunkRows[i]);
          if (slot >= counted[c].values.size()) CodeWithoutValue(chunkRows[i]);
        } else if (counted[c].joinedChunk) {
          slot = (*counted[c].joinedChunk)[LowBits(chunkRows[i])];
          if (slot >= counted[c].values.size()) CodeWithoutValue(chunkRows[i]);
        } else if (counted[c].ranks) {
          if (ranks[c][i] > kMostRank) return false;
          slot = counted[c].RankSlot(ranks[c][i], chunkRows[i]);
        } else {
          slot = counted[c].JoinedSlot(chunkRows[i]);
        }
        if (cells > 0) {
          key = key * counted[c].values.size() + slot;
          continue;
        }
        if (slot >= slotLimit) return false;
        key = bits == 64 ? slot : (key << bits) | slot;
      }
      std::uint32_t id;
      if (cells > 0) {
        id = static_cast<std::uint32_t>(key);
        if (rowOfId.empty()) rowOfId.assign(cells, -1);
      } else if (columns.size() == 1) {
        id = static_cast<std::uint32_t>(key);
        if (id >= rowOfId.size()) rowOfId.resize(id + 1, -1);
      } else if (!keyOfId.empty() && key == keyOfId[lastId]) {
        id = lastId;  // neighbours often hold the same values: no hash for them
      } else if (const std::uint32_t recent = recentId[recentSlot(key)];
                 recent != UINT32_MAX && keyOfId[recent] == key) {
        id = lastId = recent;
      } else {
        auto [at, added] = idOfKey.emplace(key, static_cast<std::uint32_t>(keyOfId.size()));
        if (added) {
          keyOfId.push_back(key);
          rowOfId.push_back(-1);
        }
        id = lastId = recentId[recentSlot(key)] = at->second;
      }
      if (rowOfId[id] < 0) rowOfId[id] = chunkRows[i];
      ids[i] = id;
    }
    visit({chunkRows, ids, valueIds});
    return true;
  };
  bool countable = true;
  rows.ForEachChunk([&](const std::vector<std::int64_t>& chunkRows) {
    countable = countable && visitChunk(chunkRows);
  });
  if (!countable) return std::nullopt;
  for (Counted& column : counted) {
    if (column.ranks) ResolveRanks(db, source.table, column);
  }
  if (cells > 0 || columns.size() == 1) {
    for (std::uint64_t slot = 0; slot < rowOfId.size(); ++slot) keyOfId.push_back(slot);
  }
  // Tuples of equal values (ranks of one prefix) make one group.
  RowTuples tuples;
  std::map<std::string, std::uint32_t> groupOfBytes;
  for (std::size_t id = 0; id < keyOfId.size(); ++id) {
    if (cells > 0 && rowOfId[id] < 0) {
      tuples.groupOf.push_back(kNoGroup);  // a cell no candidate met
      continue;
    }
    std::uint64_t key = keyOfId[id];
    std::string keyBytes;
    ValueTuple group;
    for (std::size_t c = columns.size(); c-- > 0;) {
      std::uint64_t slot;
      if (cells > 0) {
        slot = key % counted[c].values.size();
        key /= counted[c].values.size();
      } else {
        slot = bits == 64 ? key : key & (slotLimit - 1);
        if (bits < 64) key >>= bits;
      }
      const ColumnValue& value = counted[c].values[slot];
      const std::string bytes = GroupKeyBytes(value);
      keyBytes = std::to_string(bytes.size()) + ":" + bytes + keyBytes;
      group.values.insert(group.values.begin(), value);
    }
    auto [at, added] =
        groupOfBytes.emplace(std::move(keyBytes), static_cast<std::uint32_t>(tuples.groups.size()));
    if (added) tuples.groups.push_back(std::move(group));
    if (tuples.groups[at->second].row < 0) tuples.groups[at->second].row = rowOfId[id];
    tuples.groupOf.push_back(at->second);
  }
  return tuples;
}

std::optional<std::vector<std::vector<GroupCount>>> CountGroupSetsByRank(
    sqlite3* db, const RowBitmap& rows, const GroupingSource& source,
    const std::vector<std::vector<GroupedColumn>>& sets) {
  if (FewRowsForCodes(rows)) return std::nullopt;
  if (auto byCodes = CountSetsByCodes(db, rows, source, sets)) return byCodes;
  // Ranks cost about as much as the rows when few rows are scattered.
  if (FewRows(rows, source)) return std::nullopt;
  std::vector<std::vector<GroupCount>> result;
  for (const std::vector<GroupedColumn>& columns : sets) {
    std::vector<std::int64_t> rowsOfTuple;
    const std::optional<RowTuples> tuples =
        TupleOfEachRow(db, rows, source, columns, [&](const ChunkTuples& chunk) {
          for (std::uint32_t tuple : chunk.ids) {
            if (tuple >= rowsOfTuple.size()) rowsOfTuple.resize(tuple + 1);
            ++rowsOfTuple[tuple];
          }
        });
    if (!tuples) return std::nullopt;
    std::vector<GroupCount>& counts = result.emplace_back(tuples->groups.size());
    for (std::size_t tuple = 0; tuple < rowsOfTuple.size(); ++tuple) {
      if (rowsOfTuple[tuple] == 0) continue;
      GroupCount& group = counts[tuples->groupOf[tuple]];
      group.Rows += rowsOfTuple[tuple];
    }
    for (std::size_t g = 0; g < counts.size(); ++g) counts[g].Keys = tuples->groups[g].values;
    // A slot no candidate met (a joined row of another book) makes an empty group.
    std::erase_if(counts, [](const GroupCount& group) { return group.Rows == 0; });
  }
  return result;
}

}  // namespace db::searchindex
