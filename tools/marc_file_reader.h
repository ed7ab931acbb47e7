// Reads the records of a MARC 21 file, ISO 2709 or MARCXML, through YAZ: ISO 2709 in
// MARC-8 (leader position 9 blank) is converted to UTF-8 with letters and their
// diacritics composed (é, not e and a combining acute), MARCXML is UTF-8 already.
// A record that cannot be read is answered as a problem with its number, and reading
// goes on with the next one.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "marc/marc_record.h"

namespace tools {

class MarcFileReader {
 public:
  enum class Result { kRecord, kBad, kEnd };

  // Opens the file and tells its format from its first byte that is not blank ('<' is
  // MARCXML). Raises ECatalogError when it cannot be opened.
  explicit MarcFileReader(std::string path);
  ~MarcFileReader();
  MarcFileReader(const MarcFileReader&) = delete;
  MarcFileReader& operator=(const MarcFileReader&) = delete;

  // Reads the next record into record (kRecord), or sets problem to why the next record
  // cannot be read (kBad), or answers kEnd. Raises ECatalogError when the file cannot be
  // read on at all (MARCXML that is not well formed).
  Result Next(marc::Record& record, std::string& problem);

  // The number of the record last read, counted from 1, good or bad.
  std::uint64_t RecordNumber() const { return recordNumber_; }
  std::uint64_t BytesRead() const { return bytesRead_; }

 private:
  class Yaz;
  Result NextIso2709(marc::Record& record, std::string& problem);
  Result NextMarcXml(marc::Record& record, std::string& problem);
  // Fills the buffer so that it holds at least `count` bytes from start_ (less at the end).
  void Fill(std::size_t count);

  std::string path_;
  std::ifstream input_;
  bool xml_ = false;
  std::string buffer_;     // ISO 2709 bytes read and not yet consumed, from start_
  std::size_t start_ = 0;  // where the next record begins in buffer_
  std::unique_ptr<Yaz> yaz_;
  std::uint64_t recordNumber_ = 0;
  std::uint64_t bytesRead_ = 0;
};

}  // namespace tools
