// Loads catalogue files into a store in one transaction. Every bad line is reported with
// its file and line; when any line is bad nothing is stored.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/catalog_store.h"
#include "tools/text_encoding.h"

namespace tools {

struct LoadOptions {
  std::vector<std::string> files;
  FileEncoding encoding = FileEncoding::kAuto;
  bool replace = false;   // empty the catalogue before loading
  bool progress = false;  // draw a progress line on the diagnostics stream
};

struct LoadCounts {
  std::uint64_t books = 0;
  std::uint64_t loans = 0;
  std::uint64_t locations = 0;  // new shelf locations
};

// Loads the files into the store and answers what was stored. Writes one message a bad
// line (up to 50, then their count) and the progress line to diagnostics. Raises
// ECatalogError when any line was bad or the database refused, after rolling back.
LoadCounts LoadCatalogue(CatalogStore& store, const LoadOptions& options,
                         std::ostream& diagnostics);

}  // namespace tools
