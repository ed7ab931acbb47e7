#include "db/index_fit.h"

#include <sqlite3.h>

#include <memory>

#include "db/sqlite/search_index_format.h"

namespace db::searchindex {

std::optional<MatchMode> IndexMode(const std::string& path) {
  sqlite3* handle = nullptr;
  // Read-only and without creating: a path that names no file answers "no index".
  const int opened = sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(handle, &sqlite3_close);
  if (opened != SQLITE_OK) return std::nullopt;
  // The recorded mode, current or not: an index to be built anew keeps its mode.
  sqlite3_stmt* statement = nullptr;
  const std::string sql =
      std::string("SELECT max(value) FROM ") + kMetaTable + " WHERE key = 'match'";
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return std::nullopt;
  }
  std::optional<MatchMode> mode;
  if (sqlite3_step(statement) == SQLITE_ROW) {
    const auto* name = sqlite3_column_text(statement, 0);
    mode = MatchModeOfIndex(name ? reinterpret_cast<const char*>(name) : "");
  }
  sqlite3_finalize(statement);
  return mode;
}

std::optional<MatchMode> IndexPassedBy(const std::string& path, MatchMode searched) {
  const std::optional<MatchMode> built = IndexMode(path);
  if (!built || IndexServes(*built, searched)) return std::nullopt;
  return built;
}

std::optional<MatchMode> IndexPassedBy(Database& catalogue, MatchMode searched) {
  try {
    auto value = [&catalogue](const std::string& sql) {
      return catalogue.Prepare(sql)->Execute({})->Row().at(0);
    };
    const std::string table(kMetaTable);
    if (value("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = '" + table + "'")
            .Integer == 0) {
      return std::nullopt;
    }
    // An index without the setting was built before the loose mode existed: folded.
    const MatchMode built =
        MatchModeOfIndex(value("SELECT max(value) FROM " + table + " WHERE key = 'match'").Text);
    if (IndexServes(built, searched)) return std::nullopt;
    return built;
  } catch (const DriverError&) {
    return std::nullopt;  // no readable settings: no index the search could have used
  }
}

std::string AliasMatchName(MatchMode mode) {
  switch (mode) {
    case MatchMode::kExact:
      return "EXACT";
    case MatchMode::kLoose:
      return "LOOSE";
    default:
      return "FOLDED";
  }
}

}  // namespace db::searchindex
