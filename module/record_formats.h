// One book of the catalogue written for other programs: a RIS or BibTeX citation and a
// Dublin Core record. Texts are UTF-8 (marc::BookFields); url is the book's permalink.
#pragma once

#include <string>
#include <string_view>

#include "marc/book_marc.h"

namespace module {

// The RIS citation, lines ending in CR LF: TY BOOK, the book's fields, UR, ER. A line
// break or other control character inside a value is written as a blank, so that a value
// can never begin a tag line of its own.
std::string RisRecord(const marc::BookFields& book, std::string_view url);

// The BibTeX entry "@book{<key>, ...}": each value in braces with the characters TeX
// reads as commands (\ { } $ & % # _ ^ ~) escaped, so that a value cannot end its
// field or the entry.
std::string BibtexRecord(const marc::BookFields& book, std::string_view url);

// The book as a Dublin Core record of the SRU dc schema (srw_dc:dc).
std::string DublinCoreXml(const marc::BookFields& book, std::string_view url);

// A URL as an ASCII text for a UTF-8 document: bytes outside printable ASCII (a host
// header or a query string may carry raw Shift_JIS or control bytes) percent-encoded.
std::string AsciiUrl(std::string_view url);

// The book key made safe for a file name and a citation key: letters, digits, "-",
// "_" and "." kept, every other byte as "_"; "record" for an empty key.
std::string SafeKey(std::string_view key);

}  // namespace module
