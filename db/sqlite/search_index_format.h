// What the n-gram search index stores in a SQLite catalogue and how: the names of its
// tables, the keys of its grams and the encoding of its posting lists. Shared by the
// driver, which reads the index, and the catalog_index tool, which writes it.
//
// For every indexed column, each unit of the folded text (the units LIKE compares in
// the folded mode) and each pair of neighbouring units has a posting list: the rowids
// of the book rows whose text holds it, kept in chunks of 2^16 rowids, one table row a
// chunk. A text that matches "%abc%" holds the pairs ab and bc, so intersecting their
// lists gives every matching row, and some that LIKE then turns away.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"

namespace db::searchindex {

// Settings of the index (key, value), among them the table, the columns and the schema
// version of the catalogue it was built for.
inline constexpr char kMetaTable[] = "liraidx_meta";
// (col, gram, chunk, data) WITHOUT ROWID: col is the position in the column list.
inline constexpr char kPostingsTable[] = "liraidx_postings";
// Rowids written by other programs since the index was last brought up to date, with
// the indexed values they had before (has_old = 1), logged by triggers.
inline constexpr char kPendingTable[] = "liraidx_pending";
// The sort orders of the book table: (id INTEGER PRIMARY KEY, data BLOB), see OrderKey.
inline constexpr char kOrderTable[] = "liraidx_order";
// The eponymous virtual table through which a narrowed statement reads its candidates.
inline constexpr char kCandidateTable[] = "liraidx_candidates";

// Raised when the index's tables hold something this format cannot hold. An index of
// another format is not used; a refresh builds it anew. Format 2 added the checksum of
// every list and the trigger that logs the rows an UPDATE OR REPLACE deletes; format 3
// the sort orders of the columns a page is sorted by.
inline constexpr int kFormatVersion = 3;
inline constexpr int kChunkBits = 16;
inline constexpr std::int64_t kChunkRows = std::int64_t{1} << kChunkBits;
// A chunk with more rowids than this is stored as a bitmap of kChunkRows bits.
inline constexpr std::size_t kBitmapThreshold = kChunkRows / 16;
// A catalogue whose pending table holds more rows than this is searched by scan, until
// a refresh, unless the index was built with another limit.
inline constexpr std::int64_t kDefaultPendingLimit = 10000;

// The key of one unit (below 0x10000) and of a pair of units (0x10000 and above).
inline std::int64_t UnigramKey(std::uint32_t unit) { return unit; }
inline std::int64_t BigramKey(std::uint32_t first, std::uint32_t second) {
  return ((static_cast<std::int64_t>(first) + 1) << 16) | second;
}

inline std::int64_t ChunkOf(std::int64_t rowid) { return rowid >> kChunkBits; }
inline std::uint16_t LowBits(std::int64_t rowid) {
  return static_cast<std::uint16_t>(rowid & (kChunkRows - 1));
}

// The name of the matching mode an index was built for, as its settings hold it
// ("folded" or "loose"), and the mode of such a name; a missing or unknown name is
// folded, the mode of every index built before the loose one.
std::string IndexMatchName(MatchMode mode);
MatchMode MatchModeOfIndex(std::string_view name);

// The version of the loose folding, as the settings of a loose index hold it
// ("loose_folding"): a loose index without it, or of another version, is not current.
std::string LooseFoldingName();

// True when an index built for `built` answers searches in `searched`: a folded index
// holds every exact match too; a loose index serves the loose mode alone.
bool IndexServes(MatchMode built, MatchMode searched);

// The units of the text folded for the mode (kFolded or kLoose), separators left out:
// the units LIKE compares, in order.
std::vector<std::uint32_t> TextUnits(std::string_view text, MatchMode mode);

// Appends the keys of every unit and neighbouring pair of the text folded for the mode
// (kFolded or kLoose) to keys (unsorted, with repeats).
void AppendTextGrams(std::string_view text, std::vector<std::int64_t>& keys,
                     MatchMode mode = MatchMode::kFolded);

// The gram keys every text holds that matches the LIKE pattern (without escape) in the
// given mode, sorted and without repeats; empty when the pattern holds no literal
// character the index can use, so that every row is a candidate.
std::vector<std::int64_t> RequiredGramKeys(std::string_view pattern, MatchMode mode);

// True when the rows that match the pattern in the mode are exactly the rows whose
// posting list it reads: the folded or loose mode and one or two units between "%"s, so that
// a text matches when and only when it holds that unit or pair.
bool PatternIsOneGram(std::string_view pattern, MatchMode mode);

// Column start grams, an optional part of the index (its settings say "start_grams" = 1):
// the first unit and the first pair of units of each column's folded text, under the
// key of that unit or pair with this bit set. They find the few rows whose text begins
// with a word (the title equal to the search text, or beginning with it) among the many
// that hold it anywhere.
inline constexpr std::int64_t kStartGramBit = std::int64_t{1} << 40;

// Appends the start gram keys of the text folded for the mode: none for a text without
// a unit, the first unit's, and the first pair's when it has two units or more.
void AppendStartGrams(std::string_view text, std::vector<std::int64_t>& keys,
                      MatchMode mode = MatchMode::kFolded);

// The start gram key that every text matching the pattern holds: the first pair (or the
// only unit) of the pattern's first run of literal characters, when the pattern begins
// with it (no wildcard first). nullopt when the pattern may match text starting anywhere.
std::optional<std::int64_t> PatternStartGram(std::string_view pattern, MatchMode mode);

// Column end grams, an optional part of the index (its settings say "end_grams" = 1):
// the last unit and the last pair of units of each column's folded text, under the key
// of that unit or pair with this bit set, and for a text of one or two units the whole
// text under both bits. They tell the texts that end with a word (「…の」) or are that
// word, which the lists of the units and pairs anywhere cannot.
inline constexpr std::int64_t kEndGramBit = std::int64_t{1} << 38;
inline constexpr char kEndGramsSetting[] = "end_grams";

// Appends the end gram keys of the text folded for the mode: none for a text without a
// unit, the last unit's, the last pair's when it has two units or more, and the whole
// text's when it has one or two.
void AppendEndGrams(std::string_view text, std::vector<std::int64_t>& keys,
                    MatchMode mode = MatchMode::kFolded);

// The optional parts of an index whose grams a pattern's rows may be read from.
struct EdgeGrams {
  bool start = false;  // the column start grams
  bool end = false;    // the column end grams
};

// The gram keys every text matching the pattern holds, sorted and without repeats: the
// RequiredGramKeys, and where the parts are kept the start gram, the end gram (the last
// pair or only unit of the pattern's last run, when no wildcard ends it; folded and
// loose modes only) and the whole text's key (a pattern without wildcards of one or two
// units).
std::vector<std::int64_t> EdgeGramKeys(std::string_view pattern, MatchMode mode, EdgeGrams parts);

// True when the rows holding every one of EdgeGramKeys are exactly the rows matching the
// pattern: the folded or loose mode and one run of one or two units, which "%"s enclose,
// or which begins the text (with the start grams) or ends it or is all of it (with the
// end grams).
bool EdgeGramsDecide(std::string_view pattern, MatchMode mode, EdgeGrams parts);

// The folded units of a pattern that is one run of literal characters between "%"s
// ("%abc%", "abc%" never), in the folded or the loose mode; nullopt for any other pattern
// or mode. A text matches such a pattern when and only when its units hold the run.
std::optional<std::vector<std::uint32_t>> SingleRunUnits(std::string_view pattern, MatchMode mode);

// The sort order of a column (its place k in the index's order columns) is kept twice,
// as SQLite sorts it with the column's collation, rows of equal value by rowid:
// - ranks, one row of the order table a chunk of rowids: for each low bits l, 4 bytes
//   at 4 * l, low byte first: the rank of the row's value (1 for the lowest value, one
//   more for each next distinct value; NULL is the lowest), 0 where no row is;
// - the sequence, one row a part of kChunkRows places: for each place, the rowid and
//   the rank, 4 bytes each, low byte first, in the order of (rank, rowid).
// An index keeps orders only while every rowid lies in [0, 2^32).
enum class OrderData { kRanks = 0, kSequence = 1 };
inline std::int64_t OrderKey(int k, OrderData data, std::int64_t chunkOrPart) {
  return (static_cast<std::int64_t>(k) << 40) | (static_cast<std::int64_t>(data) << 39) |
         chunkOrPart;
}
// The order of the best-match ties, an optional part of the index: the book rows sorted
// by a year column, newest first (NULL last), then by the book's key, kept like a
// column's order at this place. Its settings entry (kYearKeyOrderSetting) names the two
// columns, "year,key"; without it, or empty, the index keeps no such order.
inline constexpr int kYearKeyOrderPlace = 4096;
inline constexpr char kYearKeyOrderSetting[] = "year_key_order";
// A LEFT JOIN of a search's head that meets at most one row a book, on
// <table>.<joinedColumn> = <book>.<bookColumn>.
struct OneRowJoin {
  std::string table, joinedColumn, bookColumn;
};

// The books of a joined table's rows (the loans), an optional part of the index: the
// table kJoinedBooksTable (joined_rowid INTEGER PRIMARY KEY, book_rowid) gives the book
// rowid of each row of the joined table, NULL when no book has its key, kept current
// by triggers on that table, so that reading the loans of the books needs no look-up
// of a book by its key. It holds the books of the state with no row pending (a written
// book row is pending until a refresh writes the part anew); an entry of a joined row
// that no longer exists (one a REPLACE deleted) is ignored. Its settings entry
// (kJoinedBooksSetting) names the join, "table,joinedColumn,bookColumn"; without it the
// index keeps no such part.
inline constexpr char kJoinedBooksTable[] = "liraidx_joined_books";
inline constexpr char kJoinedBooksSetting[] = "joined_books";
std::string JoinedBooksText(const OneRowJoin& join);
// The names of a list the index's description separates by commas; none for an empty text.
std::vector<std::string> SplitNames(std::string_view list);
// nullopt for a text that names no three columns.
std::optional<OneRowJoin> JoinedBooksOfText(std::string_view text);

inline constexpr std::size_t kOrderEntryBytes = 8;
inline std::uint32_t ReadUint32(const unsigned char* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}
inline void AppendUint32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Where a posting list is stored: its row of the postings table.
struct PostingKey {
  int column = 0;
  std::int64_t gram = 0;
  std::int64_t chunk = 0;
};

// One chunk's posting list from its sorted, distinct low bits, for the key.
std::string EncodePosting(const std::vector<std::uint16_t>& lows, const PostingKey& key);
// Appends the rowids of a chunk's posting list, ascending. False when the bytes are no
// posting list of that key (a damaged index: a wrong checksum, a list moved to another
// key, a list out of order); rowids may then have been appended.
bool DecodePosting(std::string_view data, const PostingKey& key, std::vector<std::int64_t>& rowids);

// The bits of a chunk's posting list stored as a bitmap, kChunkRows / 8 bytes (bit
// l % 8 of byte l / 8 set for each low bits l), when the bytes are such a list of that
// key with its checksum right: a list most rows of a chunk hold is then taken whole,
// not rowid by rowid. Empty for a list stored otherwise or damaged (DecodePosting
// tells which).
std::string_view PostingBitmap(std::string_view data, const PostingKey& key);

// The CRC-32 (the polynomial of zlib and PNG) of the bytes, continuing from crc.
std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0);

}  // namespace db::searchindex
