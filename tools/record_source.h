// Where a load takes its books from: a catalogue file or a MARC file, read one record
// at a time, each record a book to store or the key of a book to remove.
#pragma once

#include <cstdint>
#include <string>

#include "tools/catalog_record.h"

namespace tools {

class RecordSource {
 public:
  enum class Kind { kEnd, kBook, kDeletion };

  virtual ~RecordSource() = default;

  // Reads the next record into record: a book (kBook), or for kDeletion only the key of a
  // book to remove; kEnd at the end. Raises ECatalogError "where: problem" for a record
  // that cannot be loaded; the next call goes on after it.
  virtual Kind Next(CatalogRecord& record) = 0;
  // The file and the line or record last read, for messages.
  virtual std::string Where() const = 0;
  // Bytes of the file consumed so far, for progress reports.
  virtual std::uint64_t BytesRead() const = 0;
};

}  // namespace tools
