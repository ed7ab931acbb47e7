#include "marc/marc_record.h"

namespace marc {

std::string_view Field::SubfieldValue(char code) const {
  for (const Subfield& subfield : subfields) {
    if (subfield.code == code) return subfield.value;
  }
  return std::string_view();
}

}  // namespace marc
