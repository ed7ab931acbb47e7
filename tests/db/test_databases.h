// The databases the query tests run against, made afresh for every test process: a
// SQLite file in a temporary folder (aliases "lite", folded, and "lite_exact") and a
// schema of its own on the PostgreSQL server that ctest starts (alias "pg"). Both hold
// the same tables, written in Shift_JIS.
#pragma once

#include <string>

namespace dbtest {

// The temporary folder of this test process.
const std::string& TempFolder();

// True when the PostgreSQL test server is running (its conninfo file exists).
bool PostgresAvailable();

// Runs SQL (Shift_JIS) directly on the SQLite test file, without the engine.
void ExecSqlite(const std::string& sql);

// Writes a file in the temporary folder and gives its path.
std::string WriteFile(const std::string& name, const std::string& bytes);

}  // namespace dbtest
