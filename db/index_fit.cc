#include "db/index_fit.h"

#include <sqlite3.h>

#include <memory>

#include "db/sqlite/search_index.h"
#include "db/sqlite/search_index_format.h"

namespace db::searchindex {

std::optional<MatchMode> IndexMode(const std::string& path) {
  sqlite3* handle = nullptr;
  // Read-only and without creating: a path that names no file answers "no index".
  const int opened = sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(handle, &sqlite3_close);
  if (opened != SQLITE_OK) return std::nullopt;
  const std::optional<IndexInfo> info = ReadCurrentIndex(db.get());
  if (!info) return std::nullopt;
  return info->match;
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
