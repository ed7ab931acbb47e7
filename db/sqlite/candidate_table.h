// The table-valued function liraidx_candidates(N) through which a narrowed search
// statement reads the rowids the search index gave it: N names a set registered on
// the connection. A set is computed before the statement is prepared; when another
// connection has written since, it is computed again inside the statement's own read
// transaction, so the candidates always belong to the data the statement reads.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "db/sqlite/row_bitmap.h"
#include "db/sqlite/search_index.h"
#include "db/sqlite/stored_order.h"

namespace db::searchindex {

class RankedOrder;
struct JoinedRead;
struct CountedAlong;

// Candidate rows as a set of rowids.
struct CandidateBits {
  RowBitmap rows;
  bool exact = false;  // as Candidates::exact
  // Counts of the rows taken while they were decided, if any were asked.
  std::shared_ptr<const CountedAlong> countedAlong = nullptr;
};

// Candidate rows, and how to compute them again.
class CandidateSet {
 public:
  // compute answers the candidates for the data the connection reads when it is
  // called; first is its answer before the statement was prepared. Constructed inside
  // the read transaction that computed first, so that the data version it takes is
  // the one first belongs to.
  using Compute = std::function<CandidateBits()>;
  // With sort, the candidates come in its order instead of rowid order.
  // With ranked, in the best-match order it gives.
  CandidateSet(sqlite3* db, Compute compute, CandidateBits first,
               std::optional<IndexedSort> sort = std::nullopt,
               std::shared_ptr<RankedOrder> ranked = nullptr);

  // The candidates for the data the connection reads now.
  const CandidateBits& Current();
  // The candidates for the data the connection reads now, in the set's order. Raises
  // OrderUnreadable.
  std::unique_ptr<RowSequence> Sequence();
  const std::optional<IndexedSort>& Sort() const { return sort_; }
  // The best-match order the set comes in when it gives it itself, else null.
  const RankedOrder* Ranking() const { return ranked_.get(); }

  // Has the statement reading the set pass over that many candidates more before the
  // next one it reads: when each candidate gives one row of the result, in order, the
  // rows before a page are passed over without being read. Taken by that next read.
  void SkipCandidates(std::int64_t count) { skip_ += count; }
  std::int64_t TakeSkip() { return std::exchange(skip_, 0); }

 private:
  sqlite3* db_;
  Compute compute_;
  CandidateBits candidates_;
  unsigned dataVersion_;
  std::optional<IndexedSort> sort_;
  std::shared_ptr<RankedOrder> ranked_;
  std::int64_t skip_ = 0;
};

// What exact candidates are computed from: the same question in the same state of the
// file (its data version) has the same answer.
struct CandidateQuestion {
  LikeConditions conditions;
  std::optional<std::vector<RowFilter>> filters;  // the filters decided, if any
  bool filtersDecidable = false;                  // whether the head lets them be decided
  MatchMode mode = MatchMode::kFolded;
  unsigned dataVersion = 0;
  bool operator==(const CandidateQuestion&) const = default;
};

// The sets of one connection, by number.
class CandidateRegistry {
 public:
  CandidateRegistry();
  // Registers the set; answers its number, the smallest one not taken, so that the same
  // search gives the same statement text request after request (and its prepared
  // statement can be kept).
  int Add(std::shared_ptr<CandidateSet> set);
  void Remove(int number);
  CandidateSet* Find(int number) const;

  // The answer last remembered, when it is to the same question: a second statement of
  // one search (the facet counts beside its list) takes the candidates the first
  // computed instead of reading the lists again.
  std::optional<CandidateBits> Recall(const CandidateQuestion& question) const;
  void Remember(CandidateQuestion question, const CandidateBits& answer);
  // The joined table read last on the connection (GroupingSource::lastJoinedRead).
  const std::shared_ptr<JoinedRead>& LastJoinedRead() const { return lastJoinedRead_; }

 private:
  std::map<int, std::shared_ptr<CandidateSet>> sets_;
  std::optional<std::pair<CandidateQuestion, CandidateBits>> last_;
  std::shared_ptr<JoinedRead> lastJoinedRead_;
};

// Registers the function on the connection; the registry lives as long as the
// connection. Answers SQLITE_OK or an error code.
int RegisterCandidateTable(sqlite3* db, CandidateRegistry** registry);

// The data version of the connection's main database, which changes when another
// connection commits.
unsigned DataVersion(sqlite3* db);

}  // namespace db::searchindex
