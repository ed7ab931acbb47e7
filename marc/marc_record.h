// A MARC 21 bibliographic record as the catalogue tools handle it: the leader and the
// fields in record order, every text in UTF-8. Reading and writing the exchange formats
// happens elsewhere (tools/marc_file_reader.h, marc/marcxml_writer.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"

namespace marc {

// A MARC file or a mapping file that cannot be read; the message names where and why.
class EMarcError : public platform::Exception {
 public:
  explicit EMarcError(std::string message)
      : platform::Exception("EMarcError", std::move(message)) {}
};

struct Subfield {
  char code = 'a';
  std::string value;
};

struct Field {
  std::string tag;                  // three characters: "001", "245", "880"
  std::string indicators = "  ";    // data fields only: two characters
  std::string data;                 // control fields only (tags 001 to 009)
  std::vector<Subfield> subfields;  // data fields only, in record order

  // Control fields (00X) hold data; every other field holds subfields.
  bool IsControl() const { return tag.size() == 3 && tag[0] == '0' && tag[1] == '0'; }
  // The text of the first subfield with the code; empty when there is none.
  std::string_view SubfieldValue(char code) const;
};

struct Record {
  // 24 characters; position 5 is the record status ('d' marks a deleted record).
  std::string leader = "00000nam a2200000 i 4500";
  std::vector<Field> fields;

  bool IsDeleted() const { return leader.size() > 5 && leader[5] == 'd'; }
};

}  // namespace marc
