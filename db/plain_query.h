// Whether a statement only reads: a long-lived process keeps a database between requests
// only while its statements leave nothing behind on the connection that a new process
// would not find (a temporary table, a setting, a transaction, a lock).
#pragma once

#include <string_view>

namespace db {

// True when the statement begins with SELECT, WITH or VALUES and names none of the words
// with which a query changes data or the session (INTO, INSERT, PRAGMA, set_config, ...).
// Errs on the side of false: a statement it refuses only costs a reopening.
bool IsPlainQuery(std::string_view sql);

}  // namespace db
