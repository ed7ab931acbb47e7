// The entry of the PostgreSQL plug-in module. The plug-in carries libpq, so a program
// that only ever opens SQLite databases never loads it.
#pragma once

#include <string_view>

#include "db/driver.h"

namespace db {

// The plug-in's file, looked for beside the program and then by the system's search.
inline constexpr std::string_view kPostgresPluginFile = "libdbengine_pg.so";
inline constexpr const char* kPostgresOpenSymbol = "dbengine_pg_open";

// Connects with a libpq connection string and gives the new database, owned by the
// caller; `match` is how its LIKE compares, and each statement on it is cancelled by the
// server after timeLimitSeconds (0: never). Throws DriverError.
using PostgresOpenFunction = Database*(const char* connInfo, MatchMode match,
                                       int timeLimitSeconds);

}  // namespace db
