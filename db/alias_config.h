// The engine's alias file: one [alias] section per database, naming its driver and
// where the data lives. Read when the engine starts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"

namespace db {

enum class DriverKind { kSqlite, kPostgres };

// Seconds of database work a request may spend on an alias unless it says otherwise.
inline constexpr int kDefaultTimeLimitSeconds = 30;

struct AliasDefinition {
  std::string Name;
  DriverKind Driver = DriverKind::kSqlite;
  std::string Path;      // SQLite: the database file, as the operating system wants it
  std::string ConnInfo;  // PostgreSQL: the libpq connection string
  // FOLDED unless the alias says otherwise; a PostgreSQL alias without MATCH compares
  // exactly, as PostgreSQL aliases did before the server could fold.
  MatchMode Match = MatchMode::kFolded;
  // TIME_LIMIT: seconds after which the database work of a request is stopped; 0 for none.
  int TimeLimitSeconds = kDefaultTimeLimitSeconds;

  bool operator==(const AliasDefinition&) const = default;
};

// The aliases of the file text. Keys and the values of DRIVER and MATCH (FOLDED, EXACT
// or LOOSE) ignore letter case; TIME_LIMIT is a number of seconds from 0 (no limit) to 86400; a
// relative PATH is taken from the folder of `filePath`. Throws DriverError kErrConfigInvalid naming
// the file and line of the first fault.
std::vector<AliasDefinition> ParseAliases(std::string_view text, std::string_view filePath);

// The alias file in effect: $DBENGINE_CONFIG, else dbengine.conf in the current folder.
// A missing dbengine.conf defines no alias; a file named by the variable must exist. A
// process serving many requests keeps the aliases while the file is unchanged
// (platform/kept_files.h). Throws DriverError kErrConfigInvalid.
std::vector<AliasDefinition> ReadAliasConfiguration();

// The alias of that name (letter case ignored), or null.
const AliasDefinition* FindAlias(const std::vector<AliasDefinition>& aliases,
                                 std::string_view name);

}  // namespace db
