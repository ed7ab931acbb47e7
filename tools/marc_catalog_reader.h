// Reads the books of a MARC file through a mapping: each record's mapped values are
// brought into Shift_JIS and checked as a catalogue file's line is. A character that
// Shift_JIS cannot hold is read as the form the variant table gives it (鷗 as 鴎);
// one without such a form is stored as its numeric character reference (&#128512;),
// which a page shows as the character, and reported as a warning.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "marc/marc_mapping.h"
#include "tools/marc_file_reader.h"
#include "tools/record_source.h"

namespace tools {

class MarcCatalogReader : public RecordSource {
 public:
  // Opens the file (see MarcFileReader); the mapping must outlive the reader. Warnings
  // go to warnings, one line each.
  MarcCatalogReader(std::string path, const marc::Mapping& mapping, std::ostream& warnings);

  // A record with leader position 5 'd' is a deletion. Raises ECatalogError
  // "path: record N [(key)]: problem" for a record that cannot be read or mapped.
  Kind Next(CatalogRecord& record) override;
  std::string Where() const override;
  std::uint64_t BytesRead() const override { return file_.BytesRead(); }

  // How many characters were stored as character references.
  std::uint64_t References() const { return references_; }

 private:
  // The Shift_JIS form of a UTF-8 value of column; raises ECatalogError for bad UTF-8.
  std::string ToShiftJis(const std::string& value, std::string_view column);

  std::string path_;
  MarcFileReader file_;
  const marc::Mapping& mapping_;
  std::ostream& warnings_;
  std::string key_;          // the book id of the record last read, when it has one
  marc::Record marcRecord_;  // the record last read, whose memory the next one reuses
  std::uint64_t references_ = 0;
};

// Answers the Shift_JIS text of a UTF-8 text, each character that code page 932 lacks
// read through the variant table, or written as its numeric character reference when it
// has no form there (its code point is appended to unmapped). Raises ECatalogError for a
// byte sequence that is not UTF-8.
std::string Utf8ToCatalogText(std::string_view utf8, std::vector<char32_t>& unmapped);

}  // namespace tools
