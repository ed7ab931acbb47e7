// How the columns of a catalogue are read from MARC 21 records and written into them:
// one rule a column, each a list of sources (a field, the subfields it gives, for an 880
// the field it is linked to and whether the text or its reading is wanted).
// docs/CATALOGUE.md describes the mapping file and the default mapping.
#pragma once

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "marc/marc_record.h"

namespace marc {

// The catalogue file's columns a mapping may fill (the loans and attachments are not
// bibliographic data and never come from a MARC record).
inline constexpr std::array<std::string_view, 16> kMappedColumns = {
    "book_id", "title",    "title_kana",  "author",    "author_kana", "publisher",
    "isbn",    "subject",  "call_number", "price",     "year",        "pages",
    "size",    "contents", "location",    "loan_class"};

// Which texts of an 880 field a source takes: any, only readings (katakana, with blanks
// and punctuation), or only what is not a reading.
enum class Script { kAny, kReading, kText };

struct Source {
  std::string tag;        // "245"; "880" with linkedTag for a linked vernacular field
  std::string linkedTag;  // the tag an 880's subfield 6 names, or empty
  std::string codes;      // subfield codes taken, in record order; empty for 00X fields
  Script script = Script::kAny;
};

struct Rule {
  std::string column;
  bool all = false;  // every value of every source joined by "; ", else the first value
  std::vector<Source> sources;
};

class Mapping {
 public:
  // The default mapping, the text of DefaultText().
  static const Mapping& Default();
  // The default mapping's text, in the mapping file format.
  static std::string_view DefaultText();
  // The default mapping changed by the lines of a mapping file: a line replaces the rule
  // of its column, "none" as its rule removes it. Raises EMarcError "origin:line: problem"
  // for an unknown column, rule or source.
  static Mapping Parse(std::string_view text, std::string_view origin);

  // The values of the mapped columns a record holds, UTF-8, trimmed of blanks and of
  // the ISBD punctuation that ends a subfield (" /", " :", " ;", " =", ","); numbers
  // (price, pages) are their first run of digits, year its first four digits, isbn the
  // first word of digits, X and hyphens. Columns without a value are left out.
  std::map<std::string, std::string> Read(const Record& record) const;

  // A record holding the values, each in the first source of its rule that is not an
  // 880 (or in an 880 linked to its field when the rule has no other source), in the
  // subfield of that source's first code. Read gives the values back.
  Record Write(const std::map<std::string, std::string>& values) const;

  const std::vector<Rule>& Rules() const { return rules_; }

 private:
  // This mapping with the rules of the lines replacing those of their columns.
  Mapping WithLines(std::string_view text, std::string_view origin) const;

  std::vector<Rule> rules_;
};

}  // namespace marc
