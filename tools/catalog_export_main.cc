// catalog_export: writes the books of a SQLite catalogue as MARC 21 records (MARCXML or
// ISO 2709 in UTF-8 or MARC-8), through the same mapping the loader reads them with.
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "marc/marc_mapping.h"
#include "tools/argument_list.h"
#include "tools/catalog_error.h"
#include "tools/marc_export.h"

namespace {

constexpr const char* kUsage =
    "usage: catalog_export --sqlite FILE [--format marcxml|iso2709|iso2709-marc8]\n"
    "                      [--mapping FILE] [--output FILE]\n"
    "  --sqlite FILE   the catalogue to write\n"
    "  --format        MARCXML (the default), ISO 2709 in UTF-8, or ISO 2709 in MARC-8\n"
    "  --mapping FILE  lines that change the default mapping (as catalog_loader reads it)\n"
    "  --output FILE   where to write (default: standard output)\n";

}  // namespace

int main(int argc, char** argv) {
  std::string sqlitePath, mappingPath, outputPath;
  tools::MarcOutput output = tools::MarcOutput::kMarcXml;
  try {
    tools::ArgumentList arguments(argc, argv);
    while (arguments.Next()) {
      const std::string& arg = arguments.Current();
      if (arg == "--sqlite") {
        sqlitePath = arguments.Value();
      } else if (arg == "--mapping") {
        mappingPath = arguments.Value();
      } else if (arg == "--output") {
        outputPath = arguments.Value();
      } else if (arg == "--format") {
        std::string name = arguments.Value();
        if (name == "marcxml")
          output = tools::MarcOutput::kMarcXml;
        else if (name == "iso2709")
          output = tools::MarcOutput::kIso2709Utf8;
        else if (name == "iso2709-marc8")
          output = tools::MarcOutput::kIso2709Marc8;
        else
          throw tools::ECatalogError("unknown format '" + name + "'");
      } else if (arg == "-h" || arg == "--help") {
        std::cout << kUsage;
        return 0;
      } else {
        throw tools::ECatalogError("unknown argument " + arg);
      }
    }
    if (sqlitePath.empty()) throw tools::ECatalogError("--sqlite is required");
  } catch (const tools::ECatalogError& e) {
    std::cerr << "catalog_export: " << e.Message() << "\n" << kUsage;
    return 2;
  }
  try {
    std::optional<marc::Mapping> mapping;
    if (!mappingPath.empty()) {
      std::ifstream file(mappingPath, std::ios::binary);
      std::stringstream text;
      text << file.rdbuf();
      if (!file) throw tools::ECatalogError(mappingPath + ": cannot read the mapping file");
      mapping = marc::Mapping::Parse(text.str(), mappingPath);
    }
    std::ofstream file;
    if (!outputPath.empty()) {
      file.open(outputPath, std::ios::binary);
      if (!file) throw tools::ECatalogError(outputPath + ": cannot create the file");
    }
    std::uint64_t count =
        tools::ExportMarc(sqlitePath, mapping ? *mapping : marc::Mapping::Default(), output,
                          outputPath.empty() ? std::cout : file);
    std::cerr << "wrote " << count << " records\n";
    return 0;
  } catch (const platform::Exception& e) {
    std::cerr << "catalog_export: " << e.Message() << "\n";
    return 1;
  }
}
