// catalog_loader: fills a SQLite catalogue file or a PostgreSQL database from catalogue
// files (tab-separated, UTF-8 or Shift_JIS) or MARC 21 files (ISO 2709 or MARCXML),
// creating the tables when they are missing; a change load applies a night's export.
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "db/index_fit.h"
#include "tools/argument_list.h"
#include "tools/catalog_error.h"
#include "tools/catalog_load.h"
#include "tools/postgres_catalog_store.h"
#include "tools/postgres_search_index.h"
#include "tools/search_index_builder.h"
#include "tools/sqlite_catalog_store.h"

using tools::ArgumentList;
using tools::CatalogStore;
using tools::ECatalogError;
using tools::IndexPostgresCatalogue;
using tools::IndexTarget;
using tools::LoadCatalogue;
using tools::LoadCounts;
using tools::LoadOptions;
using tools::MatchModeArgument;
using tools::ParseEncodingName;
using tools::ParseFormatName;
using tools::PostgresCatalogStore;
using tools::SearchIndexBuilder;
using tools::SqliteCatalogStore;

namespace {

constexpr const char* kUsage =
    "usage: catalog_loader (--sqlite FILE | --postgres CONNINFO) [--encoding auto|utf-8|sjis]\n"
    "                      [--replace] [--no-index] [--match folded|loose]\n"
    "                      [--progress | --no-progress]\n"
    "                      [--format auto|tsv|marc] [--mapping FILE]\n"
    "                      [--changes [--delete KEYS.txt]...]\n"
    "                      CATALOGUE.tsv|RECORDS.mrc|RECORDS.xml...\n"
    "  --sqlite FILE        SQLite catalogue file, created when missing (texts in Shift_JIS)\n"
    "  --postgres CONNINFO  PostgreSQL database, a libpq connection string\n"
    "  --encoding           character set of the files (default auto: UTF-8 when valid)\n"
    "  --replace            delete the books, loans and locations already stored first\n"
    "  --no-index           SQLite: leave the file's search index alone (by default it is\n"
    "                       built after the load, or refreshed when the file holds one);\n"
    "                       PostgreSQL: install the folding functions but create no search\n"
    "                       indexes (catalog_index build --postgres creates them later)\n"
    "  --match              the matching mode the search index serves: folded (the\n"
    "                       default, also for MATCH=EXACT) or loose (MATCH=LOOSE alone);\n"
    "                       SQLite: given, the index is built anew for it\n"
    "  --progress           draw progress on stderr (default: when stderr is a terminal)\n"
    "  --format             catalogue file (tsv) or MARC 21 records, ISO 2709 or MARCXML\n"
    "                       (marc); auto tells them apart by their first bytes\n"
    "  --mapping FILE       lines that change the default mapping of MARC fields to columns\n"
    "  --changes            replace the books of the files by key (adding new ones) and\n"
    "                       remove those of records marked deleted (leader/05 d)\n"
    "  --delete KEYS.txt    with --changes: remove the books whose keys the file lists,\n"
    "                       one a line, before the files are loaded\n";

int UsageError(const std::string& message) {
  std::cerr << "catalog_loader: " << message << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  LoadOptions options;
  options.progress = isatty(STDERR_FILENO) != 0;
  std::string sqlitePath;
  std::string conninfo;
  bool index = true;
  std::optional<db::MatchMode> match;  // --match; without it a SQLite index is refreshed
  std::string mappingPath;
  try {
    ArgumentList arguments(argc, argv);
    while (arguments.Next()) {
      const std::string& arg = arguments.Current();
      if (arg == "--sqlite")
        sqlitePath = arguments.Value();
      else if (arg == "--postgres")
        conninfo = arguments.Value();
      else if (arg == "--encoding")
        options.encoding = ParseEncodingName(arguments.Value());
      else if (arg == "--replace")
        options.replace = true;
      else if (arg == "--no-index")
        index = false;
      else if (arg == "--match")
        match = MatchModeArgument(arguments.Value());
      else if (arg == "--format")
        options.format = ParseFormatName(arguments.Value());
      else if (arg == "--mapping")
        mappingPath = arguments.Value();
      else if (arg == "--changes")
        options.changes = true;
      else if (arg == "--delete")
        options.deletionLists.push_back(arguments.Value());
      else if (arg == "--progress")
        options.progress = true;
      else if (arg == "--no-progress")
        options.progress = false;
      else if (arg == "-h" || arg == "--help") {
        std::cout << kUsage;
        return 0;
      } else if (arg.size() > 1 && arg[0] == '-')
        throw ECatalogError("unknown option " + arg);
      else
        options.files.push_back(arg);
    }
  } catch (const ECatalogError& e) {
    return UsageError(e.Message());
  }
  if (sqlitePath.empty() == conninfo.empty())
    return UsageError("give exactly one of --sqlite and --postgres");
  if (options.changes && options.replace)
    return UsageError("--changes and --replace exclude each other");
  if (!options.deletionLists.empty() && !options.changes)
    return UsageError("--delete belongs to a change load (--changes)");
  if (options.files.empty() && options.deletionLists.empty())
    return UsageError("no catalogue file given");

  std::optional<marc::Mapping> mapping;
  if (!mappingPath.empty()) {
    std::ifstream file(mappingPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) {
      std::cerr << "catalog_loader: " << mappingPath << ": cannot read the mapping file\n";
      return 1;
    }
    try {
      mapping = marc::Mapping::Parse(text.str(), mappingPath);
    } catch (const marc::EMarcError& e) {
      std::cerr << "catalog_loader: " << e.Message() << "\n";
      return 1;
    }
    options.mapping = &*mapping;
  }

  try {
    std::unique_ptr<CatalogStore> store;
    if (!sqlitePath.empty())
      store = std::make_unique<SqliteCatalogStore>(sqlitePath);
    else
      store = std::make_unique<PostgresCatalogStore>(conninfo);
    // A load that replaces every book is faster without the index's triggers, and
    // the index is built anew after it anyway.
    const bool indexed = index && !sqlitePath.empty();
    if (indexed && options.replace) {
      // Built anew after the load for the mode it was built for, unless --match says.
      if (!match) match = db::searchindex::IndexMode(sqlitePath);
      SearchIndexBuilder builder(sqlitePath);
      if (builder.HasIndex()) builder.Drop();
    }
    LoadCounts counts = LoadCatalogue(*store, options, std::cerr);
    const std::string where = store->Describe();
    if (indexed) {
      store.reset();
      SearchIndexBuilder builder(sqlitePath);
      std::ostream* progress = options.progress ? &std::cerr : nullptr;
      if (builder.HasIndex() && !match) {
        builder.Refresh(progress);
      } else {
        IndexTarget target;
        target.match = match.value_or(db::MatchMode::kFolded);
        builder.Build(target, progress);
      }
    }
    std::cout << "loaded " << counts.books << " books (" << counts.loans << " lent out, "
              << counts.locations << " new shelf locations) into " << where << "\n";
    if (options.changes)
      std::cout << "changes: " << counts.replaced << " books replaced, "
                << counts.books - counts.replaced << " added, " << counts.removed << " removed, "
                << counts.unknownRemovals << " keys to remove not found\n";
    if (counts.deletedSkipped > 0)
      std::cout << "skipped " << counts.deletedSkipped
                << " records marked deleted (a change load, --changes, removes their books)\n";
    if (counts.references > 0)
      std::cout << "stored " << counts.references
                << " characters without a Shift_JIS form as character references\n";
    if (!conninfo.empty()) {
      tools::PostgresIndexTarget target;
      target.match = match.value_or(db::MatchMode::kFolded);
      IndexPostgresCatalogue(conninfo, index, std::cout, target);
    }
    return 0;
  } catch (const ECatalogError& e) {
    std::cerr << "catalog_loader: " << e.Message() << "\n";
    return 1;
  }
}
