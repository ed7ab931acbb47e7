#include "marc/marc_mapping.h"

#include <algorithm>
#include <sstream>

#include "marc/unicode_text.h"

namespace marc {

namespace {

constexpr std::string_view kDefaultText =
    "# column    rule   sources, tried in this order\n"
    "book_id     first  001\n"
    "title       first  880/245$anpb!text 245$anpb\n"
    "title_kana  first  880/245$anpb!kana\n"
    "author      first  880/100$a!text 100$a 880/110$ab!text 110$ab 880/700$a!text 700$a\n"
    "author_kana first  880/100$a!kana 880/110$ab!kana 880/700$a!kana\n"
    "publisher   first  880/264$b!text 264$b 880/260$b!text 260$b\n"
    "isbn        first  020$a\n"
    "subject     all    650$a\n"
    "call_number first  084$a 090$ab 050$ab\n"
    "price       first  020$c\n"
    "year        first  264$c 260$c\n"
    "pages       first  300$a\n"
    "size        first  300$c\n"
    "contents    all    520$a 250$a\n"
    "location    first  852$b\n"
    "loan_class  first  852$9\n";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsTag(std::string_view text) {
  return text.size() == 3 && std::all_of(text.begin(), text.end(), IsDigit);
}

bool IsControlTag(std::string_view tag) { return tag[0] == '0' && tag[1] == '0'; }

// Parses "245$ab", "001", "880/245$a!kana"; answers an empty problem or what is wrong.
std::string ParseSource(std::string_view word, Source& source) {
  std::string_view rest = word;
  if (std::size_t bang = rest.find('!'); bang != std::string_view::npos) {
    std::string_view script = rest.substr(bang + 1);
    if (script == "kana")
      source.script = Script::kReading;
    else if (script == "text")
      source.script = Script::kText;
    else
      return "'" + std::string(script) + "' after ! must be kana or text";
    rest = rest.substr(0, bang);
  }
  if (std::size_t dollar = rest.find('$'); dollar != std::string_view::npos) {
    source.codes = rest.substr(dollar + 1);
    rest = rest.substr(0, dollar);
    if (source.codes.empty()) return "no subfield code after $";
    for (char code : source.codes) {
      if (!IsDigit(code) && !(code >= 'a' && code <= 'z'))
        return std::string("'") + code + "' is not a subfield code";
    }
  }
  if (std::size_t slash = rest.find('/'); slash != std::string_view::npos) {
    source.linkedTag = rest.substr(slash + 1);
    rest = rest.substr(0, slash);
    if (!IsTag(source.linkedTag)) return "'" + source.linkedTag + "' is not a field tag";
    if (rest != "880") return "only an 880 field is linked to another field";
  }
  if (!IsTag(rest)) return "'" + std::string(rest) + "' is not a field tag";
  source.tag = rest;
  if (IsControlTag(source.tag) && (!source.codes.empty() || source.script != Script::kAny))
    return "a control field (00X) has neither subfields nor script";
  if (!IsControlTag(source.tag) && source.codes.empty())
    return "a data field needs its subfield codes ($a)";
  if (source.script != Script::kAny && source.linkedTag.empty())
    return "!kana and !text choose among linked 880 fields";
  return std::string();
}

// A reading is written in katakana (with the prolonged sound mark and the middle dot),
// with blanks, ASCII punctuation and the Latin letters of foreign names (ローリング, J.K.)
// between; it holds at least one katakana and no kanji or hiragana.
bool IsReading(std::string_view text) {
  bool kana = false;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = NextUtf8(text, i).value_or(0xFFFD);
    if (c >= 0x30A1 && c <= 0x30FE) {
      kana = true;
    } else if (c == 0x3000 || c < 0x80) {
      continue;
    } else {
      return false;
    }
  }
  return kana;
}

std::string Trimmed(std::string_view text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string();
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// A subfield's text without the blanks around it and the ISBD mark that ends it.
std::string SubfieldText(std::string_view value) {
  std::string text = Trimmed(value);
  if (text.empty()) return text;
  char last = text.back();
  bool spacedMark = (last == '/' || last == ':' || last == ';' || last == '=') &&
                    (text.size() == 1 || text[text.size() - 2] == ' ');
  if (spacedMark || last == ',') text = Trimmed(std::string_view(text).substr(0, text.size() - 1));
  return text;
}

// The text a field gives for a source, empty when it gives none.
std::string FieldText(const Field& field, const Source& source) {
  if (field.IsControl()) return Trimmed(field.data);
  std::string text;
  for (const Subfield& subfield : field.subfields) {
    if (source.codes.find(subfield.code) == std::string::npos) continue;
    std::string part = SubfieldText(subfield.value);
    if (part.empty()) continue;
    if (!text.empty()) text += ' ';
    text += part;
  }
  if (source.script == Script::kReading && !IsReading(text)) return std::string();
  if (source.script == Script::kText && IsReading(text)) return std::string();
  return text;
}

// A tag as a number (245), so that a record's tags are compared as integers; -1 for a
// tag that is not three digits.
int TagNumber(std::string_view tag) {
  if (!IsTag(tag)) return -1;
  return (tag[0] - '0') * 100 + (tag[1] - '0') * 10 + (tag[2] - '0');
}

bool IsLinkedTo(const Field& field, std::string_view tag) {
  return field.SubfieldValue('6').substr(0, 3) == tag;
}

// The first run of digits (of exactly `width` digits when width is not 0).
std::string Digits(std::string_view text, std::size_t width) {
  for (std::size_t i = 0; i < text.size();) {
    if (!IsDigit(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && IsDigit(text[end])) ++end;
    if (width == 0 || end - i == width) return std::string(text.substr(i, end - i));
    i = end;
  }
  return std::string();
}

std::string IsbnWord(std::string_view text) {
  std::size_t end = 0;
  while (end < text.size() &&
         (IsDigit(text[end]) || text[end] == 'X' || text[end] == 'x' || text[end] == '-'))
    ++end;
  return std::string(text.substr(0, end));
}

std::string ColumnValue(std::string_view column, const std::string& text) {
  if (column == "price" || column == "pages") return Digits(text, 0);
  if (column == "year") return Digits(text, 4);
  if (column == "isbn") return IsbnWord(text);
  return text;
}

}  // namespace

std::string_view Mapping::DefaultText() { return kDefaultText; }

const Mapping& Mapping::Default() {
  static const Mapping mapping = [] {
    Mapping empty;
    return empty.WithLines(kDefaultText, "default mapping");
  }();
  return mapping;
}

Mapping Mapping::Parse(std::string_view text, std::string_view origin) {
  return Default().WithLines(text, origin);
}

Mapping Mapping::WithLines(std::string_view text, std::string_view origin) const {
  Mapping mapping = *this;
  std::istringstream lines{std::string(text)};
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    auto fail = [&](const std::string& problem) {
      throw EMarcError(std::string(origin) + ":" + std::to_string(number) + ": " + problem);
    };
    if (std::size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    Rule rule;
    std::string how;
    if (!(words >> rule.column)) continue;
    if (std::find(kMappedColumns.begin(), kMappedColumns.end(), rule.column) ==
        kMappedColumns.end())
      fail("'" + rule.column + "' is not a column a MARC record fills");
    if (!(words >> how) || (how != "first" && how != "all" && how != "none"))
      fail("the rule after the column must be first, all or none");
    rule.all = how == "all";
    for (std::string word; words >> word;) {
      Source source;
      std::string problem = ParseSource(word, source);
      if (!problem.empty()) fail("source '" + word + "': " + problem);
      rule.sources.push_back(std::move(source));
    }
    if (how == "none" && !rule.sources.empty()) fail("a column mapped to none has no sources");
    if (how != "none" && rule.sources.empty()) fail("no source given");
    std::erase_if(mapping.rules_, [&](const Rule& old) { return old.column == rule.column; });
    if (how != "none") mapping.rules_.push_back(std::move(rule));
  }
  return mapping;
}

std::map<std::string, std::string> Mapping::Read(const Record& record) const {
  std::map<std::string, std::string> values;
  std::vector<int> tags;
  tags.reserve(record.fields.size());
  for (const Field& field : record.fields) tags.push_back(TagNumber(field.tag));
  for (const Rule& rule : rules_) {
    std::string joined;
    for (const Source& source : rule.sources) {
      const int tag = TagNumber(source.tag);
      for (std::size_t f = 0; f < tags.size(); ++f) {
        const Field& field = record.fields[f];
        if (tags[f] != tag || (!source.linkedTag.empty() && !IsLinkedTo(field, source.linkedTag)))
          continue;
        std::string text = FieldText(field, source);
        if (text.empty()) continue;
        if (!joined.empty()) joined += "; ";
        joined += text;
        if (!rule.all) break;
      }
      if (!rule.all && !joined.empty()) break;
    }
    std::string value = ColumnValue(rule.column, joined);
    if (!value.empty()) values[rule.column] = std::move(value);
  }
  return values;
}

Record Mapping::Write(const std::map<std::string, std::string>& values) const {
  Record record;
  record.leader = "00000nam a2200000 i 4500";
  int links = 0;
  auto findField = [&record](const std::string& tag, const std::string& link, char code) -> Field* {
    for (Field& field : record.fields) {
      if (field.tag != tag || field.IsControl()) continue;
      if (!link.empty() && !IsLinkedTo(field, link)) continue;
      if (field.SubfieldValue(code).empty()) return &field;
    }
    return nullptr;
  };
  for (const Rule& rule : rules_) {
    auto value = values.find(rule.column);
    if (value == values.end() || value->second.empty()) continue;
    auto plain = std::find_if(rule.sources.begin(), rule.sources.end(),
                              [](const Source& s) { return s.linkedTag.empty(); });
    const Source& source = plain != rule.sources.end() ? *plain : rule.sources.front();
    if (IsControlTag(source.tag)) {
      Field field;
      field.tag = source.tag;
      field.data = value->second;
      record.fields.push_back(std::move(field));
      continue;
    }
    const char code = source.codes.front();
    if (source.linkedTag.empty()) {
      Field* field = findField(source.tag, "", code);
      if (field == nullptr) {
        record.fields.push_back(Field{source.tag, "  ", "", {}});
        field = &record.fields.back();
      }
      field->subfields.push_back({code, value->second});
      continue;
    }
    // An 880 names the field it belongs to and that field names it back, by one
    // occurrence number; "00" links an 880 to no field in particular.
    std::string occurrence = "00";
    if (Field* linked = findField(source.linkedTag, "", '6')) {
      char number[3];
      ++links;
      number[0] = static_cast<char>('0' + links / 10 % 10);
      number[1] = static_cast<char>('0' + links % 10);
      number[2] = '\0';
      occurrence = number;
      linked->subfields.insert(linked->subfields.begin(), {'6', "880-" + occurrence});
    }
    record.fields.push_back(Field{
        "880", "  ", "", {{'6', source.linkedTag + "-" + occurrence}, {code, value->second}}});
  }
  std::stable_sort(record.fields.begin(), record.fields.end(),
                   [](const Field& a, const Field& b) { return a.tag < b.tag; });
  return record;
}

}  // namespace marc
