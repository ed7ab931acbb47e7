// Which words of a folded or loose search most rows hold, read from the statistics the
// server keeps on the n-gram indexes, so that their n-gram conditions can be left out.
#pragma once

#include <vector>

#include "db/postgres/postgres_server_text.h"
#include "db/postgres/postgres_session.h"

namespace db::postgres {

// For each word, whether every gram of it is held by more than a share of the rows of
// its column's n-gram index. Answers are kept in the session for its later statements.
// Throws DriverError.
std::vector<bool> BroadWords(Session& session, const std::vector<NarrowableWord>& words);

}  // namespace db::postgres
