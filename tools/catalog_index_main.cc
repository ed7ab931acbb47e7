// catalog_index: builds, refreshes, drops or checks the n-gram search index of a SQLite
// catalogue file, with which the program answers searches without reading every book; or
// creates the folding functions and search indexes of a PostgreSQL catalogue.
#include <unistd.h>

#include <iostream>
#include <string>

#include "tools/alias_index_fit.h"
#include "tools/argument_list.h"
#include "tools/catalog_error.h"
#include "tools/postgres_search_index.h"
#include "tools/search_index_builder.h"

using tools::ArgumentList;
using tools::ECatalogError;
using tools::IndexPostgresCatalogue;
using tools::IndexTarget;
using tools::MatchModeArgument;
using tools::SearchIndexBuilder;

namespace {

constexpr const char* kUsage =
    "usage: catalog_index (build|refresh|drop|check) (CATALOG.db | --postgres CONNINFO)\n"
    "                     [--table NAME] [--columns A,B,...] [--pending-limit N]\n"
    "                     [--match folded|loose] [--alias NAME] [--progress | --no-progress]\n"
    "                     [--order-columns A,B,...] [--code-columns A[:N],B,...]\n"
    "  build          index the book table anew (replacing an index it holds)\n"
    "  refresh        fold the rows other programs wrote since into the index; builds\n"
    "                 it anew when the schema changed or a quarter of the books changed\n"
    "  drop           remove the index, its tables and triggers\n"
    "  check          compare the index with the rows; exit status 1 where they differ\n"
    "  --table        the book table (default BOOKMAST)\n"
    "  --columns      the columns the search statement compares (default the example\n"
    "                 schema's MS_SYOMEI,MS_SYOKANA,MS_CHOSYA,MS_CHOKANA,MS_SYUPAN,\n"
    "                 MS_ISBN,MS_KENMEI)\n"
    "  --order-columns  build: the sort columns whose order the index keeps, so that a\n"
    "                 sorted page reads only its rows and the facets count without\n"
    "                 reading rows (default MS_SYOKANA,MS_CHOKANA,MS_SEIKYU,MS_SYUNEN,\n"
    "                 MS_SYOZAI; those the table lacks are left out)\n"
    "  --code-columns  build: the columns whose values the index keeps as a small code\n"
    "                 a book (a text by its first N bytes), so that the facets count and\n"
    "                 filter a broad search from one record a book (default MS_SEIKYU:1,\n"
    "                 MS_SYUNEN,MS_SYOZAI,MS_TMARK:1,MS_TFMSUU:1,MS_KKUBUN:1; empty for\n"
    "                 none); refresh adds them to an index without them\n"
    "  --pending-limit  pending rows above which searches read every book (default 10000)\n"
    "  --match        build: the matching mode the index answers (default folded, which\n"
    "                 also serves MATCH=EXACT; loose serves MATCH=LOOSE alone)\n"
    "  --alias        the program's alias in the alias file in effect ($DBENGINE_CONFIG,\n"
    "                 else ./dbengine.conf): its catalogue, and for build its MATCH;\n"
    "                 check compares the index with the MATCH of the alias (without\n"
    "                 --alias: of every alias of that file searching the catalogue)\n"
    "  --progress     draw progress on stderr (default: when stderr is a terminal)\n"
    "  --postgres     build or refresh: install the folding functions and create the\n"
    "                 missing search indexes of --table and --columns for --match (the\n"
    "                 server keeps them current), and the best-match order's B-trees\n"
    "                 (over the folded title and author columns, the reversed folded\n"
    "                 title columns and the ties); drop: remove those indexes\n";

int UsageError(const std::string& message) {
  std::cerr << "catalog_index: " << message << "\n" << kUsage;
  return 2;
}

struct Options {
  std::string command;
  std::string catalogue;  // a SQLite file
  std::string conninfo;   // or a PostgreSQL database
  IndexTarget target;
  bool matchGiven = false;  // --match named the mode; else an alias's MATCH decides
  std::string alias;        // --alias
  bool progress = false;
};

std::vector<std::string> SplitColumns(const std::string& list) {
  std::vector<std::string> columns;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    columns.push_back(list.substr(start, comma - start));
    if (columns.back().empty()) throw ECatalogError("empty column name in --columns");
    if (comma == std::string::npos) return columns;
    start = comma + 1;
  }
}

// The SQLite catalogue file's index.
int RunSqlite(const Options& options) {
  SearchIndexBuilder builder(options.catalogue);
  std::ostream* progress = options.progress ? &std::cerr : nullptr;
  if (options.command == "build") {
    builder.Build(options.target, progress);
    std::cout << "search index built in " << options.catalogue << "\n";
  } else if (options.command == "refresh") {
    const std::int64_t folded = builder.Refresh(progress, options.target);
    if (folded < 0)
      std::cout << "search index built anew in " << options.catalogue << "\n";
    else
      std::cout << folded << " pending rows folded into the search index\n";
  } else if (options.command == "drop") {
    builder.Drop();
    std::cout << "search index dropped from " << options.catalogue << "\n";
  } else {
    const bool intact = builder.Check(std::cout);
    const auto aliases =
        options.alias.empty()
            ? tools::AliasesInEffect()
            : std::vector{tools::NamedAlias(tools::AliasesInEffect(), options.alias)};
    return tools::ReportIndexFit(options.catalogue, aliases, std::cout) && intact ? 0 : 1;
  }
  return 0;
}

// A PostgreSQL database's functions and indexes. The server keeps them current for every
// writer, so a refresh is a build that creates only what is missing.
int RunPostgres(const Options& options) {
  if (options.command == "check") {
    throw ECatalogError(options.command +
                        " --postgres: the server keeps its indexes current; use build or refresh");
  }
  tools::PostgresIndexTarget target;
  target.table = options.target.table;
  target.columns = options.target.columns;
  target.match = options.target.match;
  if (options.command == "drop")
    tools::DropPostgresIndexes(options.conninfo, std::cout, target);
  else
    IndexPostgresCatalogue(options.conninfo, true, std::cout, target);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  options.progress = isatty(STDERR_FILENO) != 0;
  try {
    ArgumentList arguments(argc, argv);
    while (arguments.Next()) {
      const std::string& arg = arguments.Current();
      if (arg == "--postgres")
        options.conninfo = arguments.Value();
      else if (arg == "--table")
        options.target.table = arguments.Value();
      else if (arg == "--columns")
        options.target.columns = SplitColumns(arguments.Value());
      else if (arg == "--order-columns")
        options.target.orderColumns = SplitColumns(arguments.Value());
      else if (arg == "--code-columns") {
        const auto columns = db::searchindex::BookCodesOfText(arguments.Value());
        if (!columns) return UsageError("--code-columns takes NAME or NAME:BYTES, by commas");
        options.target.bookCodes = *columns;
      } else if (arg == "--pending-limit")
        options.target.pendingLimit = std::stoll(arguments.Value());
      else if (arg == "--match") {
        options.target.match = MatchModeArgument(arguments.Value());
        options.matchGiven = true;
      } else if (arg == "--alias")
        options.alias = arguments.Value();
      else if (arg == "--progress")
        options.progress = true;
      else if (arg == "--no-progress")
        options.progress = false;
      else if (arg == "-h" || arg == "--help") {
        std::cout << kUsage;
        return 0;
      } else if (arg.size() > 1 && arg[0] == '-')
        throw ECatalogError("unknown option " + arg);
      else if (options.command.empty())
        options.command = arg;
      else if (options.catalogue.empty())
        options.catalogue = arg;
      else
        throw ECatalogError("unexpected argument " + arg);
    }
  } catch (const ECatalogError& e) {
    return UsageError(e.Message());
  } catch (const std::logic_error&) {
    return UsageError("--pending-limit needs a number");
  }
  if (options.command != "build" && options.command != "refresh" && options.command != "drop" &&
      options.command != "check") {
    return UsageError(options.command.empty() ? "no command given"
                                              : "unknown command " + options.command);
  }
  try {
    if (!options.alias.empty()) {
      // The alias names the catalogue unless one is given, and the mode to build for.
      const db::AliasDefinition alias = tools::NamedAlias(tools::AliasesInEffect(), options.alias);
      const bool sqlite = alias.Driver == db::DriverKind::kSqlite;
      if (options.catalogue.empty() && options.conninfo.empty())
        (sqlite ? options.catalogue : options.conninfo) = sqlite ? alias.Path : alias.ConnInfo;
      if (!options.matchGiven && alias.Match == db::MatchMode::kLoose)
        options.target.match = db::MatchMode::kLoose;
    }
  } catch (const ECatalogError& e) {
    return UsageError(e.Message());
  }
  if (options.catalogue.empty() == options.conninfo.empty()) {
    return UsageError("give either a catalogue file or --postgres CONNINFO");
  }
  try {
    return options.conninfo.empty() ? RunSqlite(options) : RunPostgres(options);
  } catch (const ECatalogError& e) {
    std::cerr << "catalog_index: " << e.Message() << "\n";
    return 1;
  }
}
