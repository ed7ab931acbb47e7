// Walking the rows of a broad search by the codes the index keeps of some of their
// columns (the books' codes, book_codes.h; the loans' codes, joined_codes.h): each chunk's
// codes are read once for every column, and a row's codes are found by its low bits, so
// the walk makes no list of rowids and no tuple id a row. Counts and filters by those
// columns share it.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
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

  // Up to 64 words of a chunk's rows (64 rows a word, by low bits) and each set's cell
  // of every lane of a word that holds a row: a lane without a row has a cell too, of a
  // valid number, so that a count may add each lane's bit without a branch.
  struct Block {
    std::int64_t chunk;
    std::size_t firstWord;                           // the first word's place in the chunk
    std::span<const std::uint64_t> words;            // the rows
    std::array<const std::uint32_t*, kMostSets> cells;  // set s's cell of lane w * 64 + j

    std::int64_t Rowid(std::size_t w, int j) const {
      return (chunk << kChunkBits) | static_cast<std::int64_t>((firstWord + w) * 64 + j);
    }
  };

  // For each chunk the rows hold any of, ascending: reads its codes, calls visit(block)
  // for each block of its words that holds a row, ascending, then chunkDone(chunk). False
  // when a rowid lies outside [0, 2^32), where no codes are kept: the chunks before it
  // were visited. Raises OrderUnreadable, and for a row's code beyond its column's values.
  template <typename Visit, typename ChunkDone>
  bool Walk(const RowBitmap& rows, Visit&& visit, ChunkDone&& chunkDone);

  // Adds the rows of the word to the counts of their cells (cells: the word's 64 lanes):
  // a dense word's lanes each add their bit without a branch, a sparse word's rows are
  // taken one by one.
  static void CountWord(std::uint64_t word, const std::uint32_t* cells, std::int64_t* counts) {
    if (std::popcount(word) > 16) {
      for (int j = 0; j < 64; ++j) counts[cells[j]] += static_cast<std::int64_t>((word >> j) & 1);
      return;
    }
    for (; word != 0; word &= word - 1) ++counts[cells[std::countr_zero(word)]];
  }

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

  // The rows of a block of a chunk whose cells are figured together: a broad search's
  // rows fill most of it, and lane after lane of codes is work the compiler vectorises.
  static constexpr std::size_t kBlockWords = 64;
  static constexpr std::size_t kBlockLanes = kBlockWords * 64;

  CodedWalk() = default;
  // Reads the codes of the chunk's rows into the columns' stripes; true when the
  // stripes hold the codes of every lane up to the end of the last row's word (read
  // whole), false when only the rows'. lastWord: the last word that holds a row.
  bool ReadChunk(std::int64_t chunk, const RowBitmap::Words& words, std::size_t lastWord);
  // Figures each set's cell of every lane of the block's words into blockCells_: from
  // the codes of every lane of a chunk read whole, or row by row (the other lanes of a
  // word cell 0). Raises OrderUnreadable for a row whose code lies outside its column's
  // values.
  void FigureBlock(const Block& block, bool whole);

  std::vector<Column> columns_;  // each column once, however many sets read it
  std::vector<Set> sets_;
  std::optional<BookCodeReader> bookCodes_;
  std::vector<std::int64_t> fewRowids_;
  std::vector<std::uint32_t> blockCells_;  // set s's cell of lane i at s * kBlockLanes + i
  std::vector<std::uint32_t> blockCodes_;  // one column's codes of the block
  std::vector<std::uint32_t> blockBad_;    // 1 where a code lies outside its values
};

template <typename Visit, typename ChunkDone>
bool CodedWalk::Walk(const RowBitmap& rows, Visit&& visit, ChunkDone&& chunkDone) {
  constexpr std::int64_t kCodedChunks = std::int64_t{1} << (32 - kChunkBits);
  bool inPart = true;
  rows.ForEachChunkWords([&](std::int64_t chunk, const RowBitmap::Words& words) {
    inPart = inPart && chunk >= 0 && chunk < kCodedChunks;
    if (!inPart) return;
    std::size_t lastWord = words.size() - 1;
    while (lastWord > 0 && words[lastWord] == 0) --lastWord;
    const bool whole = ReadChunk(chunk, words, lastWord);
    for (std::size_t first = 0; first <= lastWord; first += kBlockWords) {
      const std::size_t end = std::min(first + kBlockWords, lastWord + 1);
      Block block{chunk, first, std::span(words.data() + first, end - first), {}};
      if (std::all_of(block.words.begin(), block.words.end(),
                      [](std::uint64_t w) { return w == 0; })) {
        continue;
      }
      for (std::size_t s = 0; s < sets_.size(); ++s)
        block.cells[s] = blockCells_.data() + s * kBlockLanes;
      FigureBlock(block, whole);
      visit(block);
    }
    chunkDone(chunk);
  });
  return inPart;
}

}  // namespace db::searchindex
