// The embedded driver: SQLite files whose text columns hold Shift_JIS bytes as they
// are. LIKE is replaced by the Shift_JIS-aware one, and a reader waits for a writer's
// lock instead of failing at once.
#pragma once

#include <memory>
#include <string>

#include "db/driver.h"

namespace db {

// How long a statement waits for another process's lock before it fails, in ms.
inline constexpr int kSqliteBusyTimeoutMs = 10000;

// Opens an existing SQLite file for reading and writing. The statements on it stop with
// an error once timeLimitSeconds have passed since the opening, or since StartRequest
// readied it for another request of a long-lived process (0: never): this bounds the
// request's database work. Its page cache holds a few pages until StartRequest readies
// it for another request, and SQLite's default from then on: a request reads most pages
// once, a kept connection's next request reads many of them again. Throws DriverError
// kErrCannotOpen.
std::unique_ptr<Database> OpenSqliteDatabase(const std::string& path, MatchMode match,
                                             int timeLimitSeconds);

}  // namespace db
