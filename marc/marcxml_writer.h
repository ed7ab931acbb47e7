// Writes MARC records as MARCXML (the MARC 21 slim schema), UTF-8, for an export file or
// a response, and escapes text for any XML document the program writes.
#pragma once

#include <string>
#include <string_view>

#include "marc/marc_record.h"

namespace marc {

// UTF-8 text as XML character data or attribute value: the five characters XML reserves
// as references, and the characters XML 1.0 cannot hold at all (control characters other
// than tab, line feed and carriage return) as U+FFFD, so that a stray byte in a catalogue
// cannot make a document ill-formed.
std::string XmlText(std::string_view utf8);

// The XML declaration and the opening <collection> element.
std::string MarcXmlHead();
// One <record> element with its leader and fields, indented inside a collection.
void AppendMarcXml(const Record& record, std::string& out);
// The closing </collection>.
std::string MarcXmlTail();

// The record as a <record> element that declares the MARC 21 slim namespace itself, so
// that it stands alone or inside another document (an SRU response).
std::string MarcXmlRecord(const Record& record);

}  // namespace marc
