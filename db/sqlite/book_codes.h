// Small codes of a few columns of every book, an optional part of the search index, so
// that counting a broad search's rows by those values, or deciding a filter on them,
// reads compact codes a book instead of a rank of every column or the row.
//
// The table kBookCodesTable (stripe INTEGER PRIMARY KEY, data BLOB NOT NULL) holds, for
// each chunk of 2^16 rowids and each coded column, one stripe under StripeKey(chunk,
// place): the column's code of every rowid of the chunk by its low bits, one byte a code
// where every code of the stripe is below 256, else two, low byte first. A count or a
// filter thus reads only the stripes of its own columns, and the narrow ones read half
// the pages. Code 0 is "no book has this rowid"; code c >= 1 is the value
// kBookCodeValuesTable (col, code, value) holds for that column, a text or blob cut to
// the column's prefix, every other value whole. A value has one code; a value no book
// holds any more may keep its code. The settings entry kBookCodesSetting lists the coded
// columns, "NAME" or "NAME:PREFIX", separated by commas; without it the index keeps no
// codes.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"

namespace db::searchindex {

inline constexpr char kBookCodesTable[] = "liraidx_book_code_stripes";
inline constexpr char kBookCodeValuesTable[] = "liraidx_book_code_values";
inline constexpr char kBookCodesSetting[] = "book_code_stripes";
// The codes as an index built before the stripes kept them, a record a chunk of every
// column's codes. They are not read; a refresh writes the stripes in their place.
inline constexpr char kChunkCodesTable[] = "liraidx_book_codes";
inline constexpr char kChunkCodesSetting[] = "book_codes";
// The most bytes a code takes.
inline constexpr std::size_t kCodeBytes = 2;
// Columns beyond this many are not coded.
inline constexpr std::size_t kMostCodedColumns = 64;
// A chunk holding more rows than this has its codes read whole rather than a code a row.
inline constexpr std::size_t kWholeCodeChunkRows = 1024;
// A column with more distinct values than this is not coded.
inline constexpr std::uint32_t kMostCode = 0xFFFF;

inline std::int64_t StripeKey(std::int64_t chunk, std::size_t place) {
  return chunk * static_cast<std::int64_t>(kMostCodedColumns) + static_cast<std::int64_t>(place);
}

// The code of low bits low in a stripe's bytes of the width given.
inline std::uint32_t CodeIn(const unsigned char* stripe, bool wide, std::size_t low) {
  return wide ? stripe[low * kCodeBytes] | (std::uint32_t{stripe[low * kCodeBytes + 1]} << 8)
              : stripe[low];
}

// The stored bytes of a chunk's codes of one column (kChunkRows codes by low bits).
std::vector<unsigned char> StripeOfCodes(const std::uint16_t* codes);
// The codes of a stripe's stored bytes into codes (kChunkRows of them); false for bytes
// of neither width.
bool CodesOfStripe(const unsigned char* bytes, std::size_t size, std::uint16_t* codes);

// A coded column and the bytes of a text it keeps (0: the whole value).
struct CodedColumn {
  std::string name;
  std::size_t prefix = 0;
};

std::string BookCodesText(const std::vector<CodedColumn>& columns);
// The columns of a settings entry; nullopt for a text that is no such list.
std::optional<std::vector<CodedColumn>> BookCodesOfText(std::string_view text);

// The value cut to the prefix: a text or blob to its first prefix bytes (0: whole).
ColumnValue CutValue(ColumnValue value, std::size_t prefix);
// Bytes equal exactly when GROUP BY puts the two values in one group: texts and blobs
// compared as bytes, an integer and a real of the same number alike.
std::string GroupKeyBytes(const ColumnValue& value);

// The codes of some coded columns for the rowids of one chunk, each column's codes by
// the rowids' low bits: read whole for many rowids, a code a rowid for few.
class BookCodeReader {
 public:
  // places: the columns read, Code's k-th is places[k].
  BookCodeReader(sqlite3* db, std::vector<std::size_t> places);
  ~BookCodeReader() { sqlite3_blob_close(blob_); }
  BookCodeReader(const BookCodeReader&) = delete;
  BookCodeReader& operator=(const BookCodeReader&) = delete;

  // Reads the codes of the rowids, all of one chunk. Raises OrderUnreadable.
  void Read(std::int64_t chunk, const std::vector<std::int64_t>& rowids);
  // Reads the codes of every rowid of the chunk up to the low bits lastLow (a table of
  // fewer rows reads and touches only their part). Raises OrderUnreadable.
  void ReadWhole(std::int64_t chunk, std::uint16_t lastLow = 0xFFFF);
  // The code of the rowid of the low bits, read last, of the k-th column read; 0 where no
  // book has the rowid.
  std::uint32_t Code(std::size_t k, std::uint16_t lowBits) const {
    return CodeIn(Stripe(k), wide_[k] != 0, lowBits);
  }
  // As Code, never 0. Raises OrderUnreadable for a rowid the codes hold no book for.
  std::uint32_t CodeOfBook(std::size_t k, std::int64_t rowid) const {
    const std::uint32_t code = Code(k, static_cast<std::uint16_t>(rowid & 0xFFFF));
    if (code == 0) NoBook(rowid);
    return code;
  }
  // The k-th column's codes of the chunk read last, a rowid's by its low bits (those of
  // the rowids read, after Read): kCodeBytes a code where Wide(k), else one.
  const unsigned char* Stripe(std::size_t k) const { return bytes_.get() + k * stripeBytes_; }
  bool Wide(std::size_t k) const { return wide_[k] != 0; }

 private:
  static constexpr std::size_t kStripeBytes = std::size_t{65536} * kCodeBytes;

  // Opens the chunk's stripe of the k-th column read and notes its width.
  void OpenStripe(std::int64_t chunk, std::size_t k);
  // Makes the stripes hold the rowids up to the low bits lastLow. A small table's
  // stripes stay as small as its rows, so that a long-lived process holds no more than
  // it reads.
  void HoldUpTo(std::uint16_t lastLow);
  [[noreturn]] static void NoBook(std::int64_t rowid);

  sqlite3* db_;
  std::vector<std::size_t> places_;
  std::vector<std::uint8_t> wide_;  // a flag a column read
  sqlite3_blob* blob_ = nullptr;
  // A stripe a place; left uninitialised, so a chunk read a code a rowid touches only
  // the memory of its rowids.
  std::unique_ptr<unsigned char[]> bytes_;
  std::size_t stripeBytes_ = 0;
};

// The values of the codes of the column at place, by code (entry 0 unused), each cut
// to prefix. Raises OrderUnreadable.
std::vector<ColumnValue> ReadCodeValues(sqlite3* db, std::size_t place, std::size_t prefix);

// The value of a column of the statement's current row.
ColumnValue ReadColumnValue(sqlite3_stmt* statement, int column);
// Binds the value, of its kind, to the statement's parameter at place.
void BindColumnValue(sqlite3_stmt* statement, int place, const ColumnValue& value);

}  // namespace db::searchindex
