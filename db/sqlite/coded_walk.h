// Walking the rows of a broad search by the codes the index keeps of some of their
// columns (the books' codes, book_codes.h; the loans' codes, joined_codes.h): each chunk's
// codes are read once for every column, and a row's codes are found by its low bits, so
// the walk makes no list of rowids and no tuple id a row. Counts and filters by those
// columns share it.
#pragma once

#include <sqlite3.h>

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/sqlite/book_codes.h"
#include "db/sqlite/group_counts.h"
#include "db/sqlite/joined_codes.h"
#include "db/sqlite/row_bitmap.h"
#include "db/sqlite/search_index_format.h"

namespace db::searchindex {

// True when the column exists and compares as bytes, so that a prefix of its values is
// a run of its sorted values and equal keys are equal bytes.
bool ComparedAsBytes(sqlite3* db, const std::string& table, const std::string& column);

// True when the codes of kept count the column: coded whole or by at least the prefix
// asked for (a code stands for a value cut to the coded prefix).
bool CodesServe(const CodedColumn& kept, const GroupedColumn& column);

// The place of the column among the book table's coded columns when its codes count
// it (CodesServe), compared as bytes, and kept current by the update trigger.
std::optional<std::size_t> CodedPlace(sqlite3* db, const GroupingSource& source,
                                      const GroupedColumn& column);

// True when both are the same join.
bool SameJoin(const OneRowJoin& a, const OneRowJoin& b);

// The join of the head that reads the column's table; null when none does, or when
// the table is joined twice (which one a column means is then unclear).
const OneRowJoin* JoinOfColumn(const GroupingSource& source, const GroupedColumn& column);

// The loans' codes that stand for the column of the join now, read at its prefix; null
// when the index keeps none for it (see JoinedCodeReader::Open).
std::unique_ptr<JoinedCodeReader> JoinedCodesOf(sqlite3* db, const GroupingSource& source,
                                                const OneRowJoin& join,
                                                const GroupedColumn& column);

// Raises OrderUnreadable for a row whose code a column cannot hold.
[[noreturn]] void CodeWithoutValue(std::int64_t rowid);

// A walk that tells the rows apart by sets of columns: each row holds one cell of each
// set's table of every combination of its columns' codes, the set's first column
// varying fastest.
class CodedWalk {
 public:
  static constexpr std::size_t kMostColumns = 8;
  static constexpr std::size_t kMostSets = 8;

  // The walk of the sets of columns, or null when a column has no codes that stand for
  // it, when the columns or sets are too many, or when a set has more than mostCells
  // cells. Raises OrderUnreadable.
  static std::unique_ptr<CodedWalk> Open(sqlite3* db, const GroupingSource& source,
                                         const std::vector<std::vector<GroupedColumn>>& sets,
                                         std::size_t mostCells);

  // How many cells set s has.
  std::size_t Cells(std::size_t s) const { return sets_[s].cells; }
  // The groups of set s's rows counted by cell (Cells(s) counts): cells of equal values
  // (codes of values cut to a shorter prefix than coded) make one group.
  std::vector<GroupCount> Groups(std::size_t s, const std::vector<std::int64_t>& counts) const;

  // For each chunk the rows hold any of, ascending: reads its codes, calls
  // row(rowid, cells) for each of its rows, ascending, cells[s] the row's cell of set s,
  // then chunkDone(chunk). False when a rowid lies outside [0, 2^32), where no codes
  // are kept: the chunks before it were visited. Raises OrderUnreadable, and for a
  // code beyond its column's values.
  template <typename Row, typename ChunkDone>
  bool Walk(const RowBitmap& rows, Row&& row, ChunkDone&& chunkDone);

 private:
  struct Column {
    std::size_t bookCode = SIZE_MAX;  // its place among the book codes read, or
    std::unique_ptr<JoinedCodeReader> joinedCodes;  // the loans' codes
    std::vector<ColumnValue> values;  // by code, cut to the column's prefix
    std::uint32_t lowest = 0;  // the least code a row holds: 1 for the books' codes
    const unsigned char* stripe = nullptr;  // the chunk's codes, by low bits
    bool wide = false;  // kCodeBytes a code in the chunk read last, else one
  };
  struct Set {
    std::vector<std::size_t> columns;  // places in columns_
    std::vector<std::size_t> strides;  // what a code of each adds to the cell
    std::size_t cells = 1;
  };

  CodedWalk() = default;
  // Reads the codes of the chunk's rows into the columns' stripes.
  void ReadChunk(std::int64_t chunk, const RowBitmap::Words& words);

  std::vector<Column> columns_;  // each column once, however many sets read it
  std::vector<Set> sets_;
  std::optional<BookCodeReader> bookCodes_;
  std::vector<std::int64_t> fewRowids_;
};

template <typename Row, typename ChunkDone>
bool CodedWalk::Walk(const RowBitmap& rows, Row&& row, ChunkDone&& chunkDone) {
  constexpr std::int64_t kCodedChunks = std::int64_t{1} << (32 - kChunkBits);
  bool inPart = true;
  std::array<std::uint32_t, kMostColumns> codes{};
  std::array<std::size_t, kMostSets> cells{};
  rows.ForEachChunkWords([&](std::int64_t chunk, const RowBitmap::Words& words) {
    inPart = inPart && chunk >= 0 && chunk < kCodedChunks;
    if (!inPart) return;
    ReadChunk(chunk, words);
    // What each row asks, copied where the compiler may keep it in registers.
    struct Read {
      const unsigned char* stripe;
      bool wide;
      std::uint32_t lowest, span;  // valid codes: lowest to lowest + span - 1
    };
    std::array<Read, kMostColumns> read{};
    const std::size_t columns = columns_.size();
    for (std::size_t c = 0; c < columns; ++c) {
      const Column& column = columns_[c];
      const auto codes = static_cast<std::uint32_t>(column.values.size());
      read[c] = {column.stripe, column.wide, column.lowest, codes - column.lowest};
    }
    std::array<std::pair<std::size_t, std::size_t>, kMostColumns * kMostSets> terms{};
    std::array<std::size_t, kMostSets + 1> termsEnd{};
    std::size_t term = 0;
    for (std::size_t s = 0; s < sets_.size(); ++s) {
      for (std::size_t k = 0; k < sets_[s].columns.size(); ++k)
        terms[term++] = {sets_[s].columns[k], sets_[s].strides[k]};
      termsEnd[s + 1] = term;
    }
    const std::size_t sets = sets_.size();
    for (std::size_t w = 0; w < words.size(); ++w) {
      for (std::uint64_t bits = words[w]; bits != 0; bits &= bits - 1) {
        const auto low = static_cast<std::uint16_t>(w * 64 + std::countr_zero(bits));
        const std::int64_t rowid = (chunk << kChunkBits) | low;
        for (std::size_t c = 0; c < columns; ++c) {
          const Read& at = read[c];
          const std::uint32_t code =
              at.wide ? at.stripe[low * kCodeBytes] | (at.stripe[low * kCodeBytes + 1] << 8)
                      : at.stripe[low];
          if (code - at.lowest >= at.span) CodeWithoutValue(rowid);
          codes[c] = code;
        }
        for (std::size_t s = 0; s < sets; ++s) {
          std::size_t cell = 0;
          for (std::size_t t = termsEnd[s]; t < termsEnd[s + 1]; ++t)
            cell += codes[terms[t].first] * terms[t].second;
          cells[s] = cell;
        }
        row(rowid, cells);
      }
    }
    chunkDone(chunk);
  });
  return inPart;
}

}  // namespace db::searchindex
