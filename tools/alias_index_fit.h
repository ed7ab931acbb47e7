// catalog_index beside the program's aliases: the alias file in effect ($DBENGINE_CONFIG,
// else dbengine.conf in the current folder) says which catalogue an alias searches and
// in which matching mode, so the index can be built for it and checked against it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "db/alias_config.h"

namespace tools {

// The aliases of the alias file in effect; none when there is no dbengine.conf here.
// Raises ECatalogError for a file the engine would refuse.
std::vector<db::AliasDefinition> AliasesInEffect();

// The alias of that name among them. Raises ECatalogError when there is none.
db::AliasDefinition NamedAlias(const std::vector<db::AliasDefinition>& aliases,
                               const std::string& name);

// Names each SQLite alias that searches the catalogue file (the same file, however its
// path is written) with its MATCH, and where the catalogue's current search index does
// not answer that MATCH, says so and how to build one that does. False when an index is
// passed by.
bool ReportIndexFit(const std::string& catalogue, const std::vector<db::AliasDefinition>& aliases,
                    std::ostream& out);

}  // namespace tools
