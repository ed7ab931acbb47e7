// Writes MARC records in ISO 2709 through YAZ, in UTF-8 (leader position 9 'a') or
// converted to MARC-8 (position 9 blank).
#pragma once

#include <string>

#include "marc/marc_record.h"

namespace tools {

class Iso2709Writer {
 public:
  // Raises ECatalogError when YAZ cannot convert to MARC-8.
  explicit Iso2709Writer(bool marc8);
  ~Iso2709Writer();
  Iso2709Writer(const Iso2709Writer&) = delete;
  Iso2709Writer& operator=(const Iso2709Writer&) = delete;

  // Appends the record (with the record length and directory YAZ computes) to out.
  // Raises ECatalogError when YAZ cannot write it.
  void Append(const marc::Record& record, std::string& out);

 private:
  struct Yaz;
  bool marc8_;
  Yaz* yaz_;
};

}  // namespace tools
