// The search side of a PostgreSQL catalogue: the server functions that fold texts as the
// program's folded LIKE does, and the indexes that answer searches over the folded text
// (an n-gram GIN index for words of one or two characters, pg_trgm GIN indexes for
// longer ones). The server keeps every index current for every writer; creating them
// again is harmless.
#pragma once

#include <libpq-fe.h>

#include <ostream>
#include <string>
#include <vector>

#include "db/driver.h"

namespace tools {

// The statements (Shift_JIS; run them over a client_encoding SJIS connection, so the
// server converts the folding tables exactly as it converts the catalogue's texts) that
// create or replace liraweb_fold, liraweb_fold_pattern and liraweb_grams, and the loose
// mode's liraweb_fold_loose2 and liraweb_fold_pattern_loose2. The tables are written from
// the folding of the SQLite driver, character by character.
std::string SearchFunctionsSql();

// Creates or replaces the functions on a connection that speaks SJIS. Raises
// ECatalogError with the server's message.
void InstallSearchFunctions(PGconn* connection);

// What the PostgreSQL search indexes are made for: the book table, the columns the search
// statement compares, and the matching mode whose folding they hold.
struct PostgresIndexTarget {
  std::string table = "BOOKMAST";
  // Every column the any-field box compares, so that its OR of columns is served too.
  std::vector<std::string> columns = {"MS_SYOMEI", "MS_SYOKANA", "MS_CHOSYA", "MS_CHOKANA",
                                      "MS_SYUPAN", "MS_ISBN",    "MS_KENMEI"};
  db::MatchMode match = db::MatchMode::kFolded;
  // The best-match order's indexes: B-trees over the folded title and author columns
  // (of --match's folding, under the C collation: db::FoldedOrderIndex), which find the
  // books whose title or author equals or begins with a word, and one on its ties
  // (year DESC NULLS LAST, key), created when the table has both columns. The driver
  // reads that order tier by tier only where the ties' index is there.
  std::vector<std::string> rankedColumns = {"MS_SYOMEI", "MS_SYOKANA", "MS_CHOSYA", "MS_CHOKANA"};
  // B-trees over the reversed folded text of the title columns (db::FoldedEndingIndex),
  // which find the books whose title ends with a word.
  std::vector<std::string> endingColumns = {"MS_SYOMEI", "MS_SYOKANA"};
  std::string yearColumn = "MS_SYUNEN", keyColumn = "MS_BOOKID";
};

// Installs the functions and creates the missing indexes on the target's table and
// columns for its matching mode (kFolded, or kLoose: indexes over the loose folding,
// named with "_loose2"), then ANALYZE, telling `log` what it made. Trigram indexes need
// the pg_trgm extension and a character type that finds trigrams in Japanese text; where
// either is missing it says so and creates the n-gram indexes alone. Raises ECatalogError,
// also for a table or column name that is not a plain SQL name.
void CreateSearchIndexes(PGconn* connection, std::ostream& log,
                         const PostgresIndexTarget& target = {});

// Drops the indexes CreateSearchIndexes creates for the target's matching mode (the
// n-gram, trigram and folded B-tree indexes of its columns) and the index of the
// best-match ties, telling `log` what it dropped; the functions stay, as an alias may
// still fold with them. Searches give the same rows without the indexes, more slowly.
// Raises ECatalogError.
void DropSearchIndexes(PGconn* connection, std::ostream& log,
                       const PostgresIndexTarget& target = {});

// catalog_index --postgres CONNINFO (and the loader after loading): connects with
// client_encoding SJIS and installs the functions, and with `indexes` creates the
// target's indexes. Raises ECatalogError.
void IndexPostgresCatalogue(const std::string& conninfo, bool indexes, std::ostream& log,
                            const PostgresIndexTarget& target = {});

// catalog_index drop --postgres CONNINFO: DropSearchIndexes over a new connection.
void DropPostgresIndexes(const std::string& conninfo, std::ostream& log,
                         const PostgresIndexTarget& target = {});

}  // namespace tools
