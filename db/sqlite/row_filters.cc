#include "db/sqlite/row_filters.h"

#include <algorithm>
#include <bit>

#include "db/sqlite/coded_walk.h"
#include "db/sqlite/search_index.h"
#include "db/sqlite/stored_order.h"

namespace db::searchindex {

namespace {

bool HasColumn(sqlite3* db, const std::string& table, const std::string& column) {
  return sqlite3_table_column_metadata(db, "main", table.c_str(), column.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The table of a bare column name as SQL finds it: the one table of the statement that
// has it; nullopt when none or several do.
std::optional<std::string> TableOf(sqlite3* db, const GroupingSource& source,
                                   const std::string& column) {
  std::optional<std::string> found;
  int tables = 0;
  if (HasColumn(db, source.table, column)) {
    found = source.table;
    ++tables;
  }
  for (const OneRowJoin& join : source.joins) {
    if (HasColumn(db, join.table, column)) {
      found = join.table;
      ++tables;
    }
  }
  return tables == 1 ? found : std::nullopt;
}

// The condition run on one row of the statement: true when it holds there, as WHERE
// takes a value (NULL and zero do not hold).
class RowDecision {
 public:
  RowDecision(sqlite3* db, const FilterSource& source, const std::string& condition)
      : db_(db),
        select_(PrepareOrderRead(db, "SELECT (" + condition + ") FROM " + source.fromClause +
                                         " WHERE " + source.bookQualifier + ".rowid = ?1")) {}

  bool Holds(std::int64_t rowid) {
    sqlite3_reset(select_.get());
    sqlite3_bind_int64(select_.get(), 1, rowid);
    if (!StepOrderRead(db_, select_.get())) throw OrderUnreadable("a filtered row is missing");
    return sqlite3_column_type(select_.get(), 0) != SQLITE_NULL &&
           sqlite3_column_double(select_.get(), 0) != 0.0;
  }

 private:
  sqlite3* db_;
  OrderStatement select_;
};

// The columns, each with its table; nullopt when one's table is unclear.
std::optional<std::vector<GroupedColumn>> ColumnsOf(sqlite3* db, const FilterSource& source,
                                                    const std::vector<GroupColumn>& named) {
  std::vector<GroupedColumn> columns;
  for (const GroupColumn& column : named) {
    const std::optional<std::string> table = TableOf(db, source.grouping, column.Name);
    if (!table) return std::nullopt;
    columns.push_back({*table, column.Name, column.Prefix});
  }
  return columns;
}

// The rows that meet every filter where every column the filters read is coded: one
// walk of the rows' codes, each filter decided once for each cell of its columns' codes,
// on the first row that holds it. With along, the sets asked to count along are counted
// for the rows kept in the same walk. nullopt where a column is not coded or a set's
// cells are too many.
std::optional<FilteredRows> RowsMeetingByCodes(sqlite3* db, const RowBitmap& rows,
                                               const FilterSource& source,
                                               const std::vector<RowFilter>& filters,
                                               bool along) {
  constexpr std::size_t kMostCells = std::size_t{1} << 16;
  std::vector<std::vector<GroupedColumn>> sets;
  for (const RowFilter& filter : filters) {
    std::optional<std::vector<GroupedColumn>> read = ColumnsOf(db, source, filter.Columns);
    if (!read) return std::nullopt;
    sets.push_back(std::move(*read));
  }
  const std::size_t counted = along ? source.countAlong.size() : 0;
  for (std::size_t a = 0; a < counted; ++a) {
    std::optional<std::vector<GroupedColumn>> read = ColumnsOf(db, source, source.countAlong[a]);
    if (!read) return std::nullopt;
    sets.push_back(std::move(*read));
  }
  const std::unique_ptr<CodedWalk> walk = CodedWalk::Open(db, source.grouping, sets, kMostCells);
  if (!walk) return std::nullopt;
  std::vector<RowDecision> decisions;
  std::vector<std::vector<signed char>> holds;  // cell -> 1, 0; -1 while undecided
  for (std::size_t f = 0; f < filters.size(); ++f) {
    holds.emplace_back(walk->Cells(f), -1);
    decisions.emplace_back(db, source, filters[f].Condition);
  }
  std::vector<std::vector<std::int64_t>> counts;
  for (std::size_t a = 0; a < counted; ++a) counts.emplace_back(walk->Cells(filters.size() + a));
  FilteredRows kept;
  RowBitmap::Words keptWords{};
  // Each word's rows that every filter keeps, lane by lane without a branch; a cell not
  // decided yet is decided on the first row that holds it.
  auto heldMask = [](const std::uint32_t* cells, const signed char* held, std::uint64_t& undecided) {
    std::uint64_t holds = 0;
    undecided = 0;
    for (int j = 0; j < 64; ++j) {
      const signed char h = held[cells[j]];
      holds |= std::uint64_t{h > 0} << j;
      undecided |= std::uint64_t{h < 0} << j;
    }
    return holds;
  };
  const bool walked = walk->Walk(
      rows,
      [&](const CodedWalk::Block& block) {
        for (std::size_t w = 0; w < block.words.size(); ++w) {
          std::uint64_t keep = block.words[w];
          for (std::size_t f = 0; f < holds.size() && keep != 0; ++f) {
            const std::uint32_t* cells = block.cells[f] + w * 64;
            std::uint64_t undecided;
            std::uint64_t held = heldMask(cells, holds[f].data(), undecided);
            if ((undecided & keep) != 0) {
              for (std::uint64_t bits = undecided & keep; bits != 0; bits &= bits - 1) {
                const int j = std::countr_zero(bits);
                signed char& cell = holds[f][cells[j]];
                if (cell < 0) cell = decisions[f].Holds(block.Rowid(w, j)) ? 1 : 0;
              }
              held = heldMask(cells, holds[f].data(), undecided);
            }
            keep &= held;
          }
          keptWords[block.firstWord + w] = keep;
          for (std::size_t a = 0; a < counts.size(); ++a) {
            CodedWalk::CountWord(keep, block.cells[holds.size() + a] + w * 64, counts[a].data());
          }
        }
      },
      [&](std::int64_t chunk) {
        kept.rows.AddChunkWords(chunk, keptWords);
        keptWords.fill(0);
      });
  if (!walked) return std::nullopt;
  if (counted > 0) {
    auto countedAlong = std::make_shared<CountedAlong>();
    for (std::size_t a = 0; a < counted; ++a) {
      countedAlong->sets.push_back(sets[filters.size() + a]);
      countedAlong->counts.push_back(walk->Groups(filters.size() + a, counts[a]));
    }
    kept.countedAlong = std::move(countedAlong);
  }
  return kept;
}

// The rows that meet one filter.
std::optional<RowBitmap> RowsMeeting(sqlite3* db, const RowBitmap& rows, const FilterSource& source,
                                     const RowFilter& filter) {
  RowDecision decision(db, source, filter.Condition);
  const std::optional<std::vector<GroupedColumn>> columns = ColumnsOf(db, source, filter.Columns);
  if (!columns) return std::nullopt;
  // Ids that stand for values are decided when first met, on the row that meets them,
  // and the rows kept in the same walk. Ids of ranks are first merged into their groups
  // (a call number's rank into its first byte's), so their rows are walked again; one id
  // a row is kept for that, reserved whole, since growing it would copy and fault its
  // pages again.
  RowBitmap kept;
  std::vector<std::int64_t> keptRows;
  std::vector<signed char> idHolds;  // tuple id -> 1, 0; -1 while undecided
  std::vector<std::uint32_t> tupleOfRow;
  const std::optional<RowTuples> tuples =
      TupleOfEachRow(db, rows, source.grouping, *columns, [&](const ChunkTuples& chunk) {
        if (!chunk.valueIds) {
          if (tupleOfRow.empty()) tupleOfRow.reserve(static_cast<std::size_t>(rows.Count()));
          tupleOfRow.insert(tupleOfRow.end(), chunk.ids.begin(), chunk.ids.end());
          return;
        }
        keptRows.clear();
        for (std::size_t i = 0; i < chunk.ids.size(); ++i) {
          const std::uint32_t id = chunk.ids[i];
          if (id >= idHolds.size()) idHolds.resize(id + 1, -1);
          if (idHolds[id] < 0) idHolds[id] = decision.Holds(chunk.rows[i]) ? 1 : 0;
          if (idHolds[id] == 1) keptRows.push_back(chunk.rows[i]);
        }
        kept.Add(keptRows);
      });
  if (!tuples) return std::nullopt;
  if (tupleOfRow.empty()) return kept;
  std::vector<char> holds(tuples->groups.size());
  for (std::size_t g = 0; g < holds.size(); ++g) {
    const std::int64_t row = tuples->groups[g].row;
    holds[g] = row >= 0 && decision.Holds(row);
  }
  std::size_t next = 0;
  rows.ForEachChunk([&](const std::vector<std::int64_t>& chunkRows) {
    keptRows.clear();
    for (std::int64_t rowid : chunkRows) {
      if (holds[tuples->groupOf[tupleOfRow[next++]]]) keptRows.push_back(rowid);
    }
    kept.Add(keptRows);
  });
  return kept;
}

}  // namespace

std::optional<std::vector<RowFilter>> FiltersOfConditions(
    const std::vector<std::string>& rowConditions, const std::vector<RowFilter>& filters) {
  if (rowConditions.empty()) return std::nullopt;
  std::vector<RowFilter> decided;
  for (const std::string& condition : rowConditions) {
    const auto filter = std::find_if(filters.begin(), filters.end(),
                                     [&](const RowFilter& f) { return f.Condition == condition; });
    if (filter == filters.end()) return std::nullopt;
    decided.push_back(*filter);
  }
  return decided;
}

std::optional<FilteredRows> RowsMeetingFilters(sqlite3* db, const RowBitmap& rows,
                                               const FilterSource& source,
                                               const std::vector<RowFilter>& filters) {
  // Once the first filter is decided by the values, the others are too, however few
  // rows it leaves: one unexact filter would leave them all to the statement.
  if (FewRowsForCodes(rows)) return std::nullopt;
  // The sets to count along are counted where their columns are coded too; else the
  // filters alone are decided, and the counts are asked for later.
  for (bool along : {true, false}) {
    if (along && source.countAlong.empty()) continue;
    if (std::optional<FilteredRows> byCodes = RowsMeetingByCodes(db, rows, source, filters, along))
      return byCodes;
  }
  // Ranks cost about as much as the rows when few rows are scattered.
  if (FewRows(rows, source.grouping)) return std::nullopt;
  std::optional<RowBitmap> kept = rows;
  for (const RowFilter& filter : filters) {
    kept = RowsMeeting(db, *kept, source, filter);
    if (!kept) return std::nullopt;
  }
  return FilteredRows{std::move(*kept), nullptr};
}

}  // namespace db::searchindex
