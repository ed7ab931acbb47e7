// The databases the query tests run against, made afresh for every test process: a
// SQLite file in a temporary folder (aliases "lite", folded, and "lite_exact") and a
// schema of its own on the PostgreSQL server that ctest starts (aliases "pg", and with
// TIME_LIMIT=1 "pg_limited" and "pg_request"). Both hold
// the same tables, written in Shift_JIS.
#pragma once

#include <string>

namespace dbtest {

// The temporary folder of this test process.
const std::string& TempFolder();

// True when the PostgreSQL test server is running (its conninfo file exists).
bool PostgresAvailable();

// The libpq connection string of the PostgreSQL test server, empty when there is none.
std::string PostgresConnInfo();

// The application_name of the connections of this process's PostgreSQL aliases.
std::string PostgresApplicationName();

// Alias "pg_silent" (TIME_LIMIT=1) reaches a server's socket at this folder and port,
// where no server runs unless a test listens there.
std::string SilentServerFolder();
inline constexpr int kSilentServerPort = 5999;

// Runs SQL (Shift_JIS) directly on the SQLite test file, without the engine.
void ExecSqlite(const std::string& sql);

// Writes a file in the temporary folder and gives its path.
std::string WriteFile(const std::string& name, const std::string& bytes);

}  // namespace dbtest
