#include "marc/marc_record.h"

namespace marc {

std::string Field::SubfieldValue(char code) const {
  for (const Subfield& subfield : subfields) {
    if (subfield.code == code) return subfield.value;
  }
  return std::string();
}

}  // namespace marc
