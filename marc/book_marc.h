// The catalogue's book as a MARC 21 record: the default mapping between the columns of
// the book master and the fields of a bibliographic record, which the record exports
// write and a loader of MARC records reads back.
//
//   column       field                      column        field
//   MS_BOOKID    001                         MS_SYUNEN     260 $c
//   MS_SYOMEI    245 $a (880 when read)      MS_PAGE       300 $a "<n> p."
//   MS_SYOKANA   245 $a, linked to 880       MS_OOKISA     300 $c
//   MS_CHOSYA    100 $a (880 when read)      MS_NAIYO      520 $a
//   MS_CHOKANA   100 $a, linked to 880       MS_KENMEI     650 _4 $a
//   MS_SYUPAN    260 $b                      MS_SEIKYU     084 $a class (before "/"),
//   MS_ISBN      020 $a                                    $2 njb; 852 $h whole
//   MS_KINGAKU   020 $c "JPY<n>"             SY_SYOZAI     852 $b
//
// A title or author with a reading is written as Japanese catalogues write it: the
// reading in the regular field, the vernacular in a linked 880 field ($6 245-01 and
// 880-01, script $1 for CJK). Without a reading the vernacular stands in the regular field.
#pragma once

#include <string>

#include "marc/marc_record.h"

namespace marc {

// One book's columns as UTF-8 text; an empty text is a column without a value.
struct BookFields {
  std::string key, title, titleReading, author, authorReading, publisher, year, isbn, subject,
      callNumber, price, pages, size, contents, location;
};

// The leader of every record written: a new record of language material, a monograph,
// Unicode, encoding level and cataloguing form unknown.
inline constexpr char kBookLeader[] = "00000nam a2200000uu 4500";

// The record of the book by the mapping above; a column without a value writes no
// subfield, a field without subfields is left out.
Record BookRecord(const BookFields& book);

// The classification of a call number: its part before the first "/" (913.6 of
// 913.6/ナ), without blanks around it.
std::string CallNumberClass(const std::string& callNumber);

}  // namespace marc
