// Writes the n-gram search index into a SQLite catalogue (see docs/SEARCH_INDEX.md):
// builds it in parts of one chunk of rowids, so memory stays bounded at any size,
// folds the rows that other programs wrote since into it, drops it, and checks it
// against the rows of the book table.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "db/driver.h"
#include "db/sqlite/search_index_format.h"
#include "tools/book_codes_part.h"
#include "tools/joined_codes_part.h"
#include "tools/stored_order_merge.h"

namespace tools {

class ProgressMeter;

// The table and columns to index; the default is the example catalogue's book table
// and the columns its search statement compares.
struct IndexTarget {
  std::string table = "BOOKMAST";
  std::vector<std::string> columns = {"MS_SYOMEI", "MS_SYOKANA", "MS_CHOSYA", "MS_CHOKANA",
                                      "MS_SYUPAN", "MS_ISBN",    "MS_KENMEI"};
  // The columns a page may be sorted by whose order the index keeps; those the table
  // lacks, and those leading an index of the table (SQLite may walk that index for the
  // sort), are left out.
  std::vector<std::string> orderColumns = {"MS_SYOKANA", "MS_CHOKANA", "MS_SEIKYU", "MS_SYUNEN",
                                           "MS_SYOZAI"};
  // Whether the lists also hold the column start grams (db::searchindex::kStartGramBit).
  bool startGrams = true;
  // Whether they also hold the column end grams (db::searchindex::kEndGramBit).
  bool endGrams = true;
  // Columns whose order (ties by rowid) the index notes when it is the rowid order, so
  // that a walk of a stored order in rowid order within equal values is also in their
  // order: the best-match ranking breaks ties of year by the book's key.
  std::vector<std::string> rowidOrderCandidates = {"MS_BOOKID"};
  // The year and key columns of the best-match order whose ties the index keeps in one
  // order (year newest first, NULL last, then key; db::searchindex::kYearKeyOrderPlace),
  // so that a ranking needs no key order that follows the rowids. Empty for none; kept
  // only where the table has both and no index of it leads with the year.
  std::vector<std::string> yearKeyOrder = {"MS_SYUNEN", "MS_BOOKID"};
  std::int64_t pendingLimit = 10000;
  // The matching mode whose folding the index holds: kFolded (which also serves exact
  // matching) or kLoose. A search in another mode reads every book.
  db::MatchMode match = db::MatchMode::kFolded;
  // Whether the index also holds the grams that decide words of three or more units
  // without reading rows (db/sqlite/long_word_grams.h). A refresh keeps what the index
  // holds; an index built without them gets them from a new build.
  bool longWords = true;
  // The join whose rows' books the index keeps (db::searchindex::kJoinedBooksTable):
  // the loans of the example catalogue. Kept only where the catalogue can serve it
  // (JoinedBooksServable); nullopt for none. A refresh keeps what the index holds.
  std::optional<db::searchindex::OneRowJoin> joinedBooks =
      db::searchindex::OneRowJoin{"KASIDASI", "KA_BOOKID", "MS_BOOKID"};
  // The columns whose values the index keeps as a small code a book
  // (db/sqlite/book_codes.h), those the table has; empty for none. A refresh keeps what
  // the index holds, and gives an index without the part the ones its trigger logs.
  std::vector<db::searchindex::CodedColumn> bookCodes = DefaultBookCodes();
  // The column of the joinedBooks join whose values the index keeps as a code a book
  // (db/sqlite/joined_codes.h); nullopt for none. A refresh keeps what the index holds,
  // and gives an index without the part this one.
  std::optional<db::searchindex::CodedColumn> joinedCodes = DefaultJoinedCodes();
};

class SearchIndexBuilder {
 public:
  // Opens an existing catalogue file; a statement waits up to busyTimeoutMs for another
  // connection's lock. Raises ECatalogError when it cannot.
  explicit SearchIndexBuilder(const std::string& path, int busyTimeoutMs = 10000);
  ~SearchIndexBuilder();
  SearchIndexBuilder(const SearchIndexBuilder&) = delete;
  SearchIndexBuilder& operator=(const SearchIndexBuilder&) = delete;

  // True when the catalogue holds an index (current or not).
  bool HasIndex();

  // Replaces any index by a new one of the target, drawing progress on progress when
  // given. Raises ECatalogError (no such table or column, a failing write).
  void Build(const IndexTarget& target, std::ostream* progress);

  // Folds the pending rows into the index and answers how many there were; builds
  // the index again (same table and columns; -1) when it is not current, of another
  // format, damaged or left half built, or the pending rows are too many to fold. A
  // build stopped before it recorded its table and columns is built again for
  // fallback. A busy catalogue is tried again a few times. Raises ECatalogError, also
  // when there is no index.
  std::int64_t Refresh(std::ostream* progress, const IndexTarget& fallback = IndexTarget{});

  // Removes the index, its triggers and tables; nothing when there is none.
  void Drop();

  // Compares the index with what the book table's rows hold now and writes where they
  // differ: rows missing from a list, entries for rows that do not hold the gram or do
  // not exist, lists whose checksum or layout is wrong, an index half built or of
  // another format. True when the lists hold exactly the rows (pending rows aside).
  bool Check(std::ostream& out);

 private:
  void Execute(const std::string& sql);
  sqlite3_stmt* Prepare(const std::string& sql);
  // Raises ECatalogError with SQLite's message; notes whether the catalogue was busy.
  [[noreturn]] void Fail(const std::string& doing);
  // The table and columns the index describes; nullopt when a build stopped before
  // describing them.
  std::optional<IndexTarget> StoredTarget();
  std::string MetaValue(const std::string& key);
  bool HasMeta(const std::string& key);
  // Writes the codes of every book and their settings entry.
  void WriteAllBookCodes(const IndexTarget& target);
  // True when the triggers noted a loan written since the loans' codes were.
  bool LoansWrittenSince();
  // Writes the loans' codes of the target's join anew and notes the column coded, none
  // when they cannot be written.
  void WriteAllJoinedCodes(const IndexTarget& target, const db::searchindex::OneRowJoin& join);
  void DropTables();
  void WriteMeta(const std::vector<std::pair<std::string, std::string>>& entries);
  std::int64_t RefreshOnce(std::ostream* progress, const IndexTarget& fallback);

  // The steps of a fold, each inside the transaction RefreshOnce holds.
  // One change of a posting list: the row's low bits to remove from it or add to it.
  struct PostingEdit {
    std::uint64_t columnGram = 0;
    std::int64_t chunk = 0;
    std::uint16_t low = 0;
    bool add = false;
    bool operator<(const PostingEdit& other) const {
      return std::tie(columnGram, chunk, low) < std::tie(other.columnGram, other.chunk, other.low);
    }
  };
  struct PendingFold {
    std::vector<PostingEdit> edits;     // sorted by list, as the postings table is
    std::vector<std::int64_t> written;  // the rowids written, ascending
    std::int64_t entries = 0, lastId = 0;
    bool outsideOrders = false;  // a row now has a rowid no stored order holds
  };
  // Reads the pending rows and the current values of the rows they name.
  PendingFold ReadPending(const IndexTarget& target);
  // Applies the edits, one read and one write for each list they change.
  void WriteEdits(const std::vector<PostingEdit>& edits);
  // Merges the written rows into the stored order of every kept column.
  void MergeOrders(const IndexTarget& target, const std::vector<std::int64_t>& written);
  // True when the update trigger logs changes of every kept sort column.
  bool TriggersLogSortColumns(const IndexTarget& target);

  // The steps of a build, each inside the transaction Build holds.
  // The index's tables, and the description of what it indexes.
  void CreateTables(const IndexTarget& target);
  // The triggers that log every row another program writes into the pending table.
  void CreateTriggers(const IndexTarget& target);
  // The trigger conditions naming the rows an insert or update with REPLACE deletes
  // (those with the new rowid or the new value of a unique index), and the condition
  // that an update changes such a key.
  std::pair<std::string, std::string> ReplacedRows(const std::string& bookTable);
  // The rowids of the book table: the lowest, the highest, and how many.
  struct RowSpan {
    std::int64_t first = 0, last = 0, count = 0;
  };
  // The posting lists of every row, a chunk of rowids at a time, committed every few
  // chunks; gives the rows read.
  std::int64_t WritePostings(const IndexTarget& target, const RowSpan& rows,
                             ProgressMeter& progress);
  // The names of the table's columns.
  std::vector<std::string> TableColumns(const std::string& table);
  // The columns whose change the update trigger logs: the indexed ones and the target's
  // sort columns the table has.
  std::vector<std::string> LoggedColumns(const IndexTarget& target);
  // The columns leading an index SQLite may walk for ORDER BY instead of sorting.
  std::vector<std::string> UnsafeSortColumns(const std::string& bookTable);
  // The target's order columns the index can keep: in the table, not leading an index
  // of it, and every rowid in [0, 2^32).
  std::vector<std::string> KeptOrderColumns(const IndexTarget& target,
                                            const std::vector<std::string>& unsafeSort);
  // The target's year and key columns when the index can keep their order: both in the
  // table, the year leading no index of it, and every rowid in [0, 2^32); else none.
  std::vector<std::string> KeptYearKeyOrder(const IndexTarget& target,
                                            const std::vector<std::string>& unsafeSort);
  // True when every rowid of the table lies in [0, 2^32), as a stored order holds them.
  bool RowidsFitOrders(const std::string& table);
  // A sort order the index keeps: at its place in the order table, by its terms.
  struct KeptOrder {
    int place = 0;
    std::string name;  // the columns, for messages
    std::vector<OrderTerm> terms;
  };
  // The orders the target keeps: one a column of orderColumns, then the year-key order.
  static std::vector<KeptOrder> KeptOrders(const IndexTarget& target);
  // Calls emit with the id and data of every row of the order table that the order has
  // for the rows of the table now, ids ascending.
  void ComputeOrder(const std::string& table, const KeptOrder& order,
                    const std::function<void(std::int64_t, const std::string&)>& emit);
  // Writes the sort orders, replacing what the order table held.
  void WriteOrders(const std::string& table, const std::vector<KeptOrder>& orders);
  // Those of the candidate columns the table has whose order, ties by rowid, is the
  // rowid order now.
  std::vector<std::string> RowidOrderColumns(const IndexTarget& target);
  // Compares the stored orders with ComputeOrder; gives the rows that differ, reporting
  // each through report.
  std::int64_t CheckOrders(const std::string& table, const std::vector<KeptOrder>& orders,
                           const std::function<void(const std::string&)>& report);

  std::string path_;
  sqlite3* db_ = nullptr;
  bool busy_ = false;  // the last failure was another connection's lock
};

}  // namespace tools
