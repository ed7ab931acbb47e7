// Writes the books of a SQLite catalogue as MARC 21 records through a mapping: the
// other direction of a MARC load, for moving a catalogue into another system and for
// test and benchmark files.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include "marc/marc_mapping.h"

namespace tools {

enum class MarcOutput { kMarcXml, kIso2709Utf8, kIso2709Marc8 };

// The UTF-8 values of a book's columns (Shift_JIS, by catalogue column name), with the
// numeric character references a MARC load stored for characters outside Shift_JIS
// read back as those characters. Raises ECatalogError for bytes that are not Shift_JIS.
std::map<std::string, std::string> CatalogueValuesToUtf8(
    const std::map<std::string, std::string>& shiftJis);

// Writes every book of the catalogue file, in rowid order, and answers how many.
// Raises ECatalogError when the file cannot be read or a record cannot be written.
std::uint64_t ExportMarc(const std::string& sqlitePath, const marc::Mapping& mapping,
                         MarcOutput output, std::ostream& out);

}  // namespace tools
