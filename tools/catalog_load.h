// Loads catalogue files and MARC files into a store in one transaction. Every bad line
// or record is reported with its file and line or record number; when any is bad nothing
// is stored. A change load replaces books by key and removes deleted ones.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "marc/marc_mapping.h"
#include "tools/catalog_store.h"
#include "tools/text_encoding.h"

namespace tools {

enum class FileFormat { kAuto, kTsv, kMarc };

// Answers the format named by a command-line word (auto, tsv, marc). Raises ECatalogError
// for any other word.
FileFormat ParseFormatName(std::string_view name);

// Answers kMarc for a file that begins (after blanks) with '<' or with the five digits
// of an ISO 2709 record length, else kTsv. Raises ECatalogError when it cannot be read.
FileFormat DetectFileFormat(const std::string& path);

struct LoadOptions {
  std::vector<std::string> files;
  FileEncoding encoding = FileEncoding::kAuto;  // catalogue files
  FileFormat format = FileFormat::kAuto;
  const marc::Mapping* mapping = &marc::Mapping::Default();  // MARC files
  bool replace = false;                                      // empty the catalogue before loading
  bool changes = false;                    // replace books by key, remove deleted records' books
  std::vector<std::string> deletionLists;  // files of keys to remove (a change load)
  bool progress = false;                   // draw a progress line on the diagnostics stream
};

struct LoadCounts {
  std::uint64_t books = 0;  // books stored (added or, in a change load, replaced)
  std::uint64_t loans = 0;
  std::uint64_t locations = 0;        // new shelf locations
  std::uint64_t replaced = 0;         // a change load's books that replaced a stored one
  std::uint64_t removed = 0;          // books removed by a change load
  std::uint64_t unknownRemovals = 0;  // keys to remove that no book had
  std::uint64_t deletedSkipped = 0;   // records marked deleted in a load that is no change
  std::uint64_t references = 0;       // characters stored as character references
};

// Loads the files into the store and answers what was stored. Writes one message a bad
// line (up to 50, then their count) and the progress line to diagnostics. Raises
// ECatalogError when any line was bad or the database refused, after rolling back.
LoadCounts LoadCatalogue(CatalogStore& store, const LoadOptions& options,
                         std::ostream& diagnostics);

}  // namespace tools
