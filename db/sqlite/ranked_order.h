// The rows of a search in the best-match order, given from the index instead of sorting
// every hit: tiers of LIKE conditions on the book row, then the year newest first, then
// the book's key. Each tier's rows are walked in the stored order of the year, so a page
// reads the rows up to its own, and a row's tier is read from the posting lists where
// they decide it, from the row itself only where they do not.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/sqlite/row_bitmap.h"
#include "db/sqlite/search_index_format.h"
#include "db/sqlite/search_narrowing.h"
#include "db/sqlite/stored_order.h"

namespace db::searchindex {

// A ranking the index can give, and what it needs to give it.
struct RankingPlan {
  RankingOrder order;
  std::string orderList;         // the sort list as written, for rows still pending
  std::string table, qualifier;  // the book table and its name in the statement
  MatchMode mode = MatchMode::kFolded;
  // The stored order a tier's rows are walked in: the year-key order ascending, or the
  // year's order descending when the key's order is the rowid order.
  IndexedSort tieOrder;
  EdgeGrams edgeGrams;
};

// What the lists tell of one tier's condition for the candidates.
struct TierBounds {
  RowBitmap sure;      // rows that meet it
  RowBitmap possible;  // rows that may meet it; holds sure
};

class RankedOrder {
 public:
  // Reads the lists of every tier's condition for the candidates, in the read
  // transaction of the caller. Raises OrderUnreadable when a list cannot be read.
  RankedOrder(sqlite3* db, RankingPlan plan, const RowBitmap& candidates);

  // How many candidates the lists leave the tier of open: each costs a read of its row
  // when a page reaches it.
  std::int64_t Unsure() const;

  // The candidates, which must outlive the sequence, in the ranking's order. Rows
  // written since the lists were read have them read again; while rows are pending
  // SQLite sorts every row of the table by the sort list. Raises OrderUnreadable.
  std::unique_ptr<RowSequence> Sequence(sqlite3* db, const RowBitmap& candidates);

 private:
  RankingPlan plan_;
  std::shared_ptr<const std::vector<TierBounds>> bounds_;
  unsigned dataVersion_;
};

// The ranking of the statement from the index, or nullptr to leave its sort to SQLite:
// the shape sorts by a RankingOrder whose year and key the index keeps in its year-key
// order (or whose year column's order the index keeps and whose key column's order is
// the rowid order), its rows are one a candidate (nothing pending,
// the candidates lead the join, one row a book), the candidates are more than a 1/1024
// of the books (fewer are sorted sooner), and the lists leave the tiers of few
// candidates open. Never throws.
std::shared_ptr<RankedOrder> PlanRanking(sqlite3* db, const SearchShape& shape,
                                         const IndexInfo& info, MatchMode mode,
                                         bool rowsFromCandidates, const RowBitmap& candidates);

}  // namespace db::searchindex
