// Writes MARC records as MARCXML (the MARC 21 slim schema), UTF-8, for an export file or
// a response; the texts are escaped for XML and characters XML 1.0 forbids are left out.
#pragma once

#include <string>

#include "marc/marc_record.h"

namespace marc {

// The XML declaration and the opening <collection> element.
std::string MarcXmlHead();
// One <record> element with its leader and fields, indented inside a collection.
void AppendMarcXml(const Record& record, std::string& out);
// The closing </collection>.
std::string MarcXmlTail();

}  // namespace marc
