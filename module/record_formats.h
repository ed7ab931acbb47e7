// One book of the catalogue written for other programs: a RIS or BibTeX citation and a
// Dublin Core record and a MARC record. Texts are UTF-8; url is the book's permalink.
#pragma once

#include <string>
#include <string_view>

#include "marc/marc_record.h"

namespace module {

// One book's columns as UTF-8 text; an empty text is a column without a value.
struct BookFields {
  std::string key, title, titleReading, author, authorReading, publisher, year, isbn, subject,
      callNumber, price, pages, size, contents, location;
};

// The book as a MARC record by the catalogue's default mapping (marc::Mapping), the one
// the catalogue tools read records with, so that a loader reads back what is written.
marc::Record BookMarcRecord(const BookFields& book);

// The RIS citation, lines ending in CR LF: TY BOOK, the book's fields, UR, ER. A line
// break or other control character inside a value is written as a blank, so that a value
// can never begin a tag line of its own.
std::string RisRecord(const BookFields& book, std::string_view url);

// The BibTeX entry "@book{<key>, ...}": each value in braces with the characters TeX
// reads as commands (\ { } $ & % # _ ^ ~) escaped, so that a value cannot end its
// field or the entry.
std::string BibtexRecord(const BookFields& book, std::string_view url);

// The book as a Dublin Core record of the SRU dc schema (srw_dc:dc); with holdings, the
// call number as one more identifier.
std::string DublinCoreXml(const BookFields& book, std::string_view url, bool holdings);

// A URL as an ASCII text for a UTF-8 document: bytes outside printable ASCII (a host
// header or a query string may carry raw Shift_JIS or control bytes) percent-encoded.
std::string AsciiUrl(std::string_view url);

// The book key made safe for a file name and a citation key: letters, digits, "-",
// "_" and "." kept, every other byte as "_"; "record" for an empty key.
std::string SafeKey(std::string_view key);

}  // namespace module
