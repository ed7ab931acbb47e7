// Where the SQLite driver decides between a search by the index and a search by scan:
// a statement is narrowed only when it is a search statement over the book table of a
// current index and the index leaves few enough rows to read.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

#include "db/candidate_table.h"
#include "db/driver.h"

namespace dbengine::searchindex {

// Above this share of the book table (1/N) the rows are read by scan: fetching that
// many rows one by one by rowid costs more than reading them in order.
inline constexpr std::int64_t kNarrowedShareDivisor = 4;

// The statement narrowed by the catalogue's search index, its candidates registered
// under setNumber; nullopt to run sql as written. Never throws.
std::optional<std::string> NarrowSearchStatement(sqlite3* db, std::string_view sql, MatchMode mode,
                                                 CandidateRegistry& registry, int& setNumber);

}  // namespace dbengine::searchindex
