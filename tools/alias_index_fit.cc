#include "tools/alias_index_fit.h"

#include <filesystem>
#include <system_error>

#include "db/driver.h"
#include "db/index_fit.h"
#include "tools/catalog_error.h"

namespace tools {

std::vector<db::AliasDefinition> AliasesInEffect() {
  try {
    return db::ReadAliasConfiguration();
  } catch (const db::DriverError& failure) {
    std::string message = "the alias file cannot be read";
    for (const db::TDBError& entry : failure.Entries) message += ": " + entry.Message;
    throw ECatalogError(message);
  }
}

db::AliasDefinition NamedAlias(const std::vector<db::AliasDefinition>& aliases,
                               const std::string& name) {
  const db::AliasDefinition* alias = db::FindAlias(aliases, name);
  if (!alias) throw ECatalogError("no alias " + name + " in the alias file in effect");
  return *alias;
}

bool ReportIndexFit(const std::string& catalogue, const std::vector<db::AliasDefinition>& aliases,
                    std::ostream& out) {
  bool fits = true;
  for (const db::AliasDefinition& alias : aliases) {
    std::error_code error;
    if (alias.Driver != db::DriverKind::kSqlite ||
        !std::filesystem::equivalent(alias.Path, catalogue, error)) {
      continue;
    }
    const std::string wanted = db::searchindex::AliasMatchName(alias.Match);
    if (const auto built = db::searchindex::IndexPassedBy(catalogue, alias.Match)) {
      fits = false;
      out << "alias " << alias.Name << " searches with MATCH=" << wanted
          << ", which the search index (built for MATCH=" << db::searchindex::AliasMatchName(*built)
          << ") does not answer: its searches read every book. Build the index for it: "
             "catalog_index build --match "
          << (alias.Match == db::MatchMode::kLoose ? "loose" : "folded") << " " << catalogue
          << "\n";
    } else {
      out << "alias " << alias.Name << " searches this catalogue with MATCH=" << wanted << "\n";
    }
  }
  return fits;
}

}  // namespace tools
