// The database engine, dbengine: the one gate between the query and the drivers. It is
// started by the first database use of a process (never before: a request that needs
// no data pays nothing), opens each database once and keeps it open until the process
// ends, and turns every driver failure into EDBEngineError with its error stack. A
// long-lived process (FastCGI) keeps its databases from request to request: after each
// request the engine forgets its aliases, so the next one reads dbengine.conf again, and a
// database is opened anew when its alias changed, its file was replaced, a statement of the
// request failed or changed the session, or its driver cannot keep it.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "db/database_error.h"
#include "db/driver.h"

namespace db {

inline constexpr std::string_view kEngineName = "dbengine";

// The start-up entry: reads the alias configuration. Returns 0 on success,
// kErrAlreadyStarted when the engine already runs in this process, or the code of the
// failure (its details on the error stack).
std::uint16_t StartEngine();

// True after a successful start in this process.
bool EngineStarted();

// The database of an alias, or of a folder holding catalog.db when the name is no alias
// but a folder; opened at its first use and kept open until the process ends (or, in a
// long-lived process, until a request leaves it unfit, see above). Raises EDBEngineError.
Database& OpenDatabase(std::string_view name);

// Prepares sql on the database, which OpenDatabase gave. A statement that is no plain
// query (IsPlainQuery) has the database closed after the request; with filters, the
// database may decide those of their conditions the statement holds (PrepareFiltered).
// Raises EDBEngineError.
std::unique_ptr<Statement> PrepareStatement(
    Database& database, std::string_view sql, const std::vector<RowFilter>& filters = {},
    const std::vector<std::vector<GroupColumn>>& countAlong = {});

// How LIKE compares on the database of that name: the alias's MATCH, FOLDED for a
// folder. Starts the engine when it has not started yet; FOLDED when it cannot start or
// knows no such alias (opening the database then says why). Never throws.
MatchMode LikeMatchOf(std::string_view name);

// The engine's text for one of its codes; empty for a code it does not know.
std::string_view MessageText(std::uint16_t code);

// The entries of the error stack of the last failure.
const std::vector<TDBError>& LastErrorStack();

// Records the entries as the error stack and raises EDBEngineError for the code.
[[noreturn]] void RaiseEngineError(std::uint16_t code, std::vector<TDBError> entries);

// Runs a driver call and gives its result; a DriverError it throws is raised as
// EDBEngineError.
template <class Call>
decltype(auto) CallDriver(Call&& call) {
  try {
    return call();
  } catch (DriverError& failure) {
    RaiseEngineError(failure.Code, std::move(failure.Entries));
  }
}

// True once the PostgreSQL plug-in (and with it libpq) has been loaded.
bool PostgresPluginLoaded();

}  // namespace db
