#include "db/sqlite/coded_walk.h"

#include <algorithm>
#include <map>

#include "db/sqlite/search_index.h"
#include "db/sqlite/stored_order.h"

namespace db::searchindex {

bool ComparedAsBytes(sqlite3* db, const std::string& table, const std::string& column) {
  const char* collation = nullptr;
  return sqlite3_table_column_metadata(db, "main", table.c_str(), column.c_str(), nullptr,
                                       &collation, nullptr, nullptr, nullptr) == SQLITE_OK &&
         collation && NameIn(collation, {"BINARY"});
}

bool CodesServe(const CodedColumn& kept, const GroupedColumn& column) {
  return NameIn(kept.name, {column.column}) &&
         (kept.prefix == 0 || (column.prefix > 0 && column.prefix <= kept.prefix));
}

std::optional<std::size_t> CodedPlace(sqlite3* db, const GroupingSource& source,
                                      const GroupedColumn& column) {
  if (!NameIn(column.table, {source.table})) return std::nullopt;
  const auto coded =
      std::find_if(source.bookCodes.begin(), source.bookCodes.end(),
                   [&](const CodedColumn& kept) { return CodesServe(kept, column); });
  if (coded == source.bookCodes.end() || !ComparedAsBytes(db, source.table, column.column) ||
      !OrderFollowsUpdates(db, coded->name)) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(coded - source.bookCodes.begin());
}

bool SameJoin(const OneRowJoin& a, const OneRowJoin& b) {
  return NameIn(a.table, {b.table}) && NameIn(a.joinedColumn, {b.joinedColumn}) &&
         NameIn(a.bookColumn, {b.bookColumn});
}

const OneRowJoin* JoinOfColumn(const GroupingSource& source, const GroupedColumn& column) {
  const OneRowJoin* join = nullptr;
  for (const OneRowJoin& candidate : source.joins) {
    if (!NameIn(candidate.table, {column.table})) continue;
    if (join) return nullptr;
    join = &candidate;
  }
  return join;
}

std::unique_ptr<JoinedCodeReader> JoinedCodesOf(sqlite3* db, const GroupingSource& source,
                                                const OneRowJoin& join,
                                                const GroupedColumn& column) {
  if (!source.joinedCodes || !source.joinedBooks || !SameJoin(*source.joinedBooks, join) ||
      !CodesServe(*source.joinedCodes, column)) {
    return nullptr;
  }
  return JoinedCodeReader::Open(db, source.table, join, *source.joinedCodes, column.prefix);
}

void CodeWithoutValue(std::int64_t rowid) {
  throw OrderUnreadable("cannot read the codes of the books: row " + std::to_string(rowid) +
                        " holds a code without a value");
}

std::unique_ptr<CodedWalk> CodedWalk::Open(sqlite3* db, const GroupingSource& source,
                                           const std::vector<std::vector<GroupedColumn>>& sets,
                                           std::size_t mostCells) {
  if (sets.empty() || sets.size() > kMostSets) return nullptr;
  std::unique_ptr<CodedWalk> walk(new CodedWalk);
  std::vector<GroupedColumn> named;  // the column of each place in columns_
  std::vector<std::size_t> places;
  for (const std::vector<GroupedColumn>& columns : sets) {
    Set& set = walk->sets_.emplace_back();
    for (const GroupedColumn& asked : columns) {
      const auto same = std::find_if(named.begin(), named.end(),
                                     [&](const GroupedColumn& c) { return SameColumn(c, asked); });
      set.columns.push_back(static_cast<std::size_t>(same - named.begin()));
      if (same != named.end()) continue;
      if (named.size() == kMostColumns) return nullptr;
      named.push_back(asked);
      Column& column = walk->columns_.emplace_back();
      if (const std::optional<std::size_t> place = CodedPlace(db, source, asked)) {
        column.bookCode = places.size();
        places.push_back(*place);
        column.values = ReadCodeValues(db, *place, asked.prefix);
        column.lowest = 1;
      } else {
        const OneRowJoin* join = JoinOfColumn(source, asked);
        if (!join || !ComparedAsBytes(db, join->table, asked.column)) return nullptr;
        column.joinedCodes = JoinedCodesOf(db, source, *join, asked);
        if (!column.joinedCodes) return nullptr;
        column.values = column.joinedCodes->Values();
      }
    }
    for (std::size_t c : set.columns) {
      set.strides.push_back(set.cells);
      set.cells *= walk->columns_[c].values.size();
      if (set.cells > mostCells) return nullptr;
    }
  }
  if (walk->columns_.empty()) return nullptr;
  walk->blockCells_.resize(walk->sets_.size() * kBlockLanes);
  walk->blockCodes_.resize(kBlockLanes);
  walk->blockBad_.resize(kBlockLanes);
  if (!places.empty()) walk->bookCodes_.emplace(db, std::move(places));
  return walk;
}

std::vector<GroupCount> CodedWalk::Groups(std::size_t s,
                                          const std::vector<std::int64_t>& counts) const {
  const Set& set = sets_[s];
  std::vector<GroupCount> result;
  std::map<std::string, std::size_t> groupOfBytes;
  for (std::size_t cell = 0; cell < counts.size(); ++cell) {
    if (counts[cell] == 0) continue;
    GroupCount group;
    std::string keyBytes;
    for (std::size_t k = 0; k < set.columns.size(); ++k) {
      const std::vector<ColumnValue>& values = columns_[set.columns[k]].values;
      const ColumnValue& value = values[cell / set.strides[k] % values.size()];
      const std::string bytes = GroupKeyBytes(value);
      keyBytes += std::to_string(bytes.size()) + ":" + bytes;
      group.Keys.push_back(value);
    }
    auto [at, added] = groupOfBytes.emplace(std::move(keyBytes), result.size());
    if (added) result.push_back(std::move(group));
    result[at->second].Rows += counts[cell];
  }
  return result;
}

bool CodedWalk::ReadChunk(std::int64_t chunk, const RowBitmap::Words& words,
                          std::size_t lastWord) {
  bool whole = true;
  if (bookCodes_) {
    std::size_t rows = 0;
    for (std::uint64_t word : words) rows += static_cast<std::size_t>(std::popcount(word));
    if (rows > kWholeCodeChunkRows) {
      // To the end of the last row's word, so that every lane of a word has its codes.
      bookCodes_->ReadWhole(chunk, static_cast<std::uint16_t>(lastWord * 64 + 63));
    } else {
      whole = false;
      fewRowids_.clear();
      for (std::size_t w = 0; w < words.size(); ++w) {
        for (std::uint64_t bits = words[w]; bits != 0; bits &= bits - 1)
          fewRowids_.push_back((chunk << kChunkBits) | (w * 64 + std::countr_zero(bits)));
      }
      bookCodes_->Read(chunk, fewRowids_);
    }
  }
  for (Column& column : columns_) {
    if (column.joinedCodes) {
      column.stripe = column.joinedCodes->Read(chunk).data();
      continue;
    }
    column.stripe = bookCodes_->Stripe(column.bookCode);
    column.wide = bookCodes_->Wide(column.bookCode);
  }
  return whole;
}

namespace {

// Loops over runs of 64 lanes, of arrays that overlap nothing, so that the compiler
// vectorises them.
void WidenCodes(const unsigned char* __restrict stripe, bool wide, std::uint32_t* __restrict codes,
                std::size_t lanes) {
  for (std::size_t b = 0; b < lanes; b += 64) {
    if (wide) {
      for (std::size_t i = 0; i < 64; ++i)
        codes[b + i] = stripe[2 * (b + i)] | (std::uint32_t{stripe[2 * (b + i) + 1]} << 8);
    } else {
      for (std::size_t i = 0; i < 64; ++i) codes[b + i] = stripe[b + i];
    }
  }
}

void MarkOutside(const std::uint32_t* __restrict codes, std::uint32_t lowest, std::uint32_t span,
                 std::uint32_t* __restrict bad, std::size_t lanes) {
  for (std::size_t b = 0; b < lanes; b += 64) {
    for (std::size_t i = 0; i < 64; ++i) bad[b + i] |= codes[b + i] - lowest >= span ? 1 : 0;
  }
}

void AddToCells(const std::uint32_t* __restrict codes, std::uint32_t stride,
                std::uint32_t* __restrict cells, std::size_t lanes) {
  for (std::size_t b = 0; b < lanes; b += 64) {
    for (std::size_t i = 0; i < 64; ++i) cells[b + i] += codes[b + i] * stride;
  }
}

// Cell 0 for each lane marked outside (bad is 0 or 1).
void ClearOutside(const std::uint32_t* __restrict bad, std::uint32_t* __restrict cells,
                  std::size_t lanes) {
  for (std::size_t b = 0; b < lanes; b += 64) {
    for (std::size_t i = 0; i < 64; ++i) cells[b + i] &= bad[b + i] - 1;
  }
}

}  // namespace

void CodedWalk::FigureBlock(const Block& block, bool whole) {
  const std::size_t lanes = block.words.size() * 64;
  for (std::size_t s = 0; s < sets_.size(); ++s)
    std::fill_n(blockCells_.data() + s * kBlockLanes, lanes, 0);
  if (!whole) {
    // Few rows: each row's codes, read alone.
    for (std::size_t w = 0; w < block.words.size(); ++w) {
      for (std::uint64_t bits = block.words[w]; bits != 0; bits &= bits - 1) {
        const int j = std::countr_zero(bits);
        const std::size_t low = (block.firstWord + w) * 64 + static_cast<std::size_t>(j);
        for (std::size_t s = 0; s < sets_.size(); ++s) {
          std::uint32_t cell = 0;
          for (std::size_t k = 0; k < sets_[s].columns.size(); ++k) {
            const Column& column = columns_[sets_[s].columns[k]];
            const std::uint32_t code = CodeIn(column.stripe, column.wide, low);
            if (code < column.lowest || code >= column.values.size())
              CodeWithoutValue(block.Rowid(w, j));
            cell += code * static_cast<std::uint32_t>(sets_[s].strides[k]);
          }
          blockCells_[s * kBlockLanes + w * 64 + static_cast<std::size_t>(j)] = cell;
        }
      }
    }
    return;
  }
  std::fill_n(blockBad_.data(), lanes, 0);
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    const Column& column = columns_[c];
    WidenCodes(column.stripe + block.firstWord * 64 * (column.wide ? kCodeBytes : 1), column.wide,
               blockCodes_.data(), lanes);
    MarkOutside(blockCodes_.data(), column.lowest,
                static_cast<std::uint32_t>(column.values.size()) - column.lowest,
                blockBad_.data(), lanes);
    for (std::size_t s = 0; s < sets_.size(); ++s) {
      for (std::size_t k = 0; k < sets_[s].columns.size(); ++k) {
        if (sets_[s].columns[k] != c) continue;
        AddToCells(blockCodes_.data(), static_cast<std::uint32_t>(sets_[s].strides[k]),
                   blockCells_.data() + s * kBlockLanes, lanes);
      }
    }
  }
  // A row's code outside its values is an error; a lane without a row (code 0 of the
  // books', a code of a deleted book) counts in cell 0, so that its cell is one a count
  // holds.
  for (std::size_t w = 0; w < block.words.size(); ++w) {
    std::uint64_t outside = 0;
    for (int j = 0; j < 64; ++j)
      outside |= std::uint64_t{blockBad_[w * 64 + static_cast<std::size_t>(j)]} << j;
    if (const std::uint64_t rows = outside & block.words[w]; rows != 0)
      CodeWithoutValue(block.Rowid(w, std::countr_zero(rows)));
  }
  for (std::size_t s = 0; s < sets_.size(); ++s)
    ClearOutside(blockBad_.data(), blockCells_.data() + s * kBlockLanes, lanes);
}

}  // namespace db::searchindex
