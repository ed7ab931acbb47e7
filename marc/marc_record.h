// A bibliographic record in MARC 21 form (leader, control fields, data fields with
// indicators and subfields) and its MARCXML writing. Texts are UTF-8; the record says so
// in its leader (position 9 "a").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marc {

struct Subfield {
  char code;
  std::string value;
};

struct DataField {
  std::string tag;  // three digits
  char indicator1 = ' ';
  char indicator2 = ' ';
  std::vector<Subfield> subfields;
};

struct ControlField {
  std::string tag;  // 001 to 009
  std::string value;
};

struct Record {
  std::string leader;  // 24 characters
  std::vector<ControlField> controlFields;
  std::vector<DataField> dataFields;
};

// The record as a MARCXML <record> element of the MARC 21 slim namespace, declared on
// the element so that it stands alone or inside another document. Raises nothing.
std::string MarcXml(const Record& record);

}  // namespace marc
