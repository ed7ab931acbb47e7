// The SQL text the PostgreSQL driver sends for a statement of the program: "?" markers
// numbered, LIKE given the program's meaning. Exact matching leaves LIKE to the server
// with no escape character; folded matching compares both sides through the server's
// folding function, the same folding as the SQLite driver's, and adds beside each
// search condition the n-gram condition that the catalogue's indexes answer.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"

namespace db {

// The server-side functions that the catalogue tools install (see
// tools/postgres_search_index.h): the folding of a text, the LIKE pattern folded with
// "\" as its escape character (so that the full-width ％ and ＿ stay text), and the
// unigrams and bigrams of a text.
inline constexpr std::string_view kFoldFunction = "liraweb_fold";
inline constexpr std::string_view kFoldPatternFunction = "liraweb_fold_pattern";
inline constexpr std::string_view kGramsFunction = "liraweb_grams";
// The table in which the catalogue tools keep, for each n-gram index, the share of rows
// that hold each of its most common grams (index_name, gram, share).
inline constexpr std::string_view kGramSharesTable = "liraweb_gram_shares";
// The same for the loose mode: the folding of a text and of a LIKE pattern, then
// variant kanji read as one and blanks, separators and punctuation left out; the helper
// both call; the suffix of the names of the indexes over the loose folding. The grams
// function is shared. The names carry the version of the loose folding
// (matching::kLooseFoldingVersion): the server keeps an index's values when a function
// is replaced, so a new folding gets new functions and indexes, and a database that
// holds only an older one lacks the functions the driver asks for.
inline constexpr std::string_view kLooseFoldFunction = "liraweb_fold_loose2";
inline constexpr std::string_view kLooseFoldPatternFunction = "liraweb_fold_pattern_loose2";
inline constexpr std::string_view kLooseFormsFunction = "liraweb_loose2_forms";
inline constexpr std::string_view kLooseIndexSuffix = "_loose2";

// The text the server runs for `sql`: each "?" marker turned into $1, $2, ...; quoted
// literals, quoted names and comments copied as they are, double-byte characters
// stepped over. Exact: every LIKE pattern without an ESCAPE clause is given ESCAPE '',
// so that a backslash in a search text is text. Folded: "x LIKE p" becomes
// "fold(x) LIKE fold_pattern(p) ESCAPE '\'" ("fold(p)" with the statement's own ESCAPE
// clause), and a condition "col LIKE 'literal'", or a parenthesized group of them joined
// by OR, is narrowed by "grams(fold(col)) @> ARRAY[...]" beside it; when the literal has
// no run of three characters, "fold(col) COLLATE "C"" keeps trigram indexes out of it.
// Loose: as folded, through the loose functions.
std::string ServerText(std::string_view sql, MatchMode mode);

// `text` as an SQL string literal: in single quotes, each quote doubled.
std::string QuotedLiteral(std::string_view text);

// How a folded condition is written: kFoldEveryRow compares the folded column as above;
// kStoredForms compares the stored column with the forms that fold to each character of
// the word (a few LIKE patterns, or a regular expression "col::text COLLATE "C" ~ '...'"),
// so that the server folds no row: neither a table it scans for a word most books hold
// nor the candidates the n-gram index gives it. The n-gram condition beside it is the
// same. Patterns the forms cannot write (one with "_", a word of many pages) are folded
// as above.
enum class FoldedWords { kFoldEveryRow, kStoredForms };
std::string ServerText(std::string_view sql, MatchMode mode, FoldedWords foldedWords);

// A folded condition that an n-gram condition can narrow: its column as written and
// the grams of its pattern.
struct NarrowableWord {
  std::string column;
  std::vector<std::string> grams;
};
// Answers whether the word gets its n-gram condition. A word most rows hold is better
// without: the server reads the table anyway and would compute the grams of every row
// it keeps. A group of columns joined by OR is narrowed only when all of them are.
using NarrowingChoice = std::function<bool(const NarrowableWord&)>;
std::string ServerText(std::string_view sql, MatchMode mode, FoldedWords foldedWords,
                       const NarrowingChoice& narrow);

// The grams (as Shift_JIS texts) that the folded text of a row holds whenever it matches
// the LIKE pattern (no escape character) in folded mode (or, given kLoose, the loosely
// folded text in the loose mode): every character of a run of one character between
// wildcards, every pair of neighbours of a longer run. Empty when the pattern has no
// such run. `longestRun`, when given, receives the length in characters of the longest
// run.
std::vector<std::string> RequiredGramTexts(std::string_view pattern,
                                           std::size_t* longestRun = nullptr,
                                           MatchMode mode = MatchMode::kFolded);

}  // namespace db
