// catalog_index: creates the search indexes of a catalogue. For PostgreSQL these are the
// server's folding functions, n-gram indexes for short words and trigram indexes for long
// ones (tools/postgres_search_index.h).
#include <iostream>
#include <string>

#include "tools/argument_list.h"
#include "tools/catalog_error.h"
#include "tools/postgres_search_index.h"

namespace {

constexpr const char* kUsage =
    "usage: catalog_index --postgres CONNINFO\n"
    "  --postgres CONNINFO  PostgreSQL catalogue, a libpq connection string: installs the\n"
    "                       folding functions of MATCH=FOLDED and creates the search indexes\n";

}  // namespace

int main(int argc, char** argv) {
  std::string conninfo;
  try {
    ArgumentList arguments(argc, argv);
    while (arguments.Next()) {
      const std::string& arg = arguments.Current();
      if (arg == "--postgres") {
        conninfo = arguments.Value();
      } else if (arg == "-h" || arg == "--help") {
        std::cout << kUsage;
        return 0;
      } else {
        throw ECatalogError("unknown argument " + arg);
      }
    }
    if (conninfo.empty()) throw ECatalogError("--postgres CONNINFO is required");
  } catch (const ECatalogError& e) {
    std::cerr << "catalog_index: " << e.Message() << "\n" << kUsage;
    return 2;
  }
  try {
    IndexPostgresCatalogue(conninfo, true, std::cout);
    return 0;
  } catch (const ECatalogError& e) {
    std::cerr << "catalog_index: " << e.Message() << "\n";
    return 1;
  }
}
