// Whether the search index of a SQLite catalogue file answers an alias's matching mode.
// An index built for another mode is passed by, and every search of the alias reads
// every book; the program notes that in its log and catalog_index check reports it.
#pragma once

#include <optional>
#include <string>

#include "db/driver.h"

namespace db::searchindex {

// The mode the search index of the SQLite file at `path` was built for, current or not
// (a refresh builds it anew for that mode); nullopt when the file holds no index or
// cannot be read. Opens the file read-only; never throws.
std::optional<MatchMode> IndexMode(const std::string& path);

// The mode of that index when it does not answer searches in `searched`; nullopt when
// it does, or when there is none.
std::optional<MatchMode> IndexPassedBy(const std::string& path, MatchMode searched);

// The same for the catalogue the program has open: the index's recorded mode read over
// that SQLite connection, whose schema is read already, so a search pays two small
// statements for it. Never throws.
std::optional<MatchMode> IndexPassedBy(Database& catalogue, MatchMode searched);

// The MATCH value of an alias that searches in the mode: FOLDED, EXACT or LOOSE.
std::string AliasMatchName(MatchMode mode);

}  // namespace db::searchindex
