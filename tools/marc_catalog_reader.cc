#include "tools/marc_catalog_reader.h"

#include <cstdio>

#include "marc/unicode_text.h"
#include "matching/character_references.h"
#include "tools/catalog_error.h"

namespace tools {

namespace {

std::string CodePoint(char32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
  return text;
}

// The Shift_JIS form of every character of the Basic Multilingual Plane, looked up once:
// a load converts hundreds of millions of characters. kNoForm marks those without one.
constexpr std::uint16_t kNoForm = 0xFFFF;

const std::vector<std::uint16_t>& BasicPlaneForms() {
  static const std::vector<std::uint16_t> forms = [] {
    std::vector<std::uint16_t> table(0x10000, kNoForm);
    for (char32_t c = 0; c < 0x10000; ++c) table[c] = matching::SjisFormOf(c).value_or(kNoForm);
    return table;
  }();
  return forms;
}

}  // namespace

std::string Utf8ToCatalogText(std::string_view utf8, std::vector<char32_t>& unmapped) {
  const std::vector<std::uint16_t>& basicPlane = BasicPlaneForms();
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80 && utf8[i] != '\0') {
      out.push_back(utf8[i++]);
      continue;
    }
    const std::size_t at = i;
    const std::optional<char32_t> character = marc::NextUtf8(utf8, i);
    if (!character) throw ECatalogError("not UTF-8 at byte " + std::to_string(at + 1));
    const char32_t c = *character;
    const std::optional<std::uint16_t> form =
        c < 0x10000 ? (basicPlane[c] == kNoForm ? std::nullopt : std::optional(basicPlane[c]))
                    : matching::SjisFormOf(c);
    if (form) {
      if (*form >= 0x100) out.push_back(static_cast<char>(*form >> 8));
      out.push_back(static_cast<char>(*form & 0xFF));
    } else {
      unmapped.push_back(c);
      out += "&#" + std::to_string(static_cast<unsigned>(c)) + ";";
    }
  }
  return out;
}

MarcCatalogReader::MarcCatalogReader(std::string path, const marc::Mapping& mapping,
                                     std::ostream& warnings)
    : path_(path), file_(std::move(path)), mapping_(mapping), warnings_(warnings) {}

std::string MarcCatalogReader::Where() const {
  std::string where = path_ + ": record " + std::to_string(file_.RecordNumber());
  if (!key_.empty()) where += " (" + key_ + ")";
  return where;
}

std::string MarcCatalogReader::ToShiftJis(const std::string& value, std::string_view column) {
  std::vector<char32_t> unmapped;
  std::string text;
  try {
    text = Utf8ToCatalogText(value, unmapped);
  } catch (const ECatalogError& e) {
    throw ECatalogError(std::string(column) + ": " + e.Message());
  }
  for (char32_t c : unmapped) {
    ++references_;
    warnings_ << Where() << ": " << column << ": " << CodePoint(c)
              << " has no Shift_JIS form; stored as &#" << static_cast<unsigned>(c) << ";\n";
  }
  // A tab or line break would split the checked line; in a MARC value it is a blank.
  for (char& c : text) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

RecordSource::Kind MarcCatalogReader::Next(CatalogRecord& record) {
  marc::Record& marcRecord = marcRecord_;
  std::string problem;
  key_.clear();
  switch (file_.Next(marcRecord, problem)) {
    case MarcFileReader::Result::kEnd:
      return Kind::kEnd;
    case MarcFileReader::Result::kBad:
      throw ECatalogError(Where() + ": " + problem);
    case MarcFileReader::Result::kRecord:
      break;
  }
  const std::map<std::string, std::string> values = mapping_.Read(marcRecord);
  if (auto id = values.find("book_id"); id != values.end() && id->second.size() <= 40)
    key_ = id->second;
  try {
    static const std::vector<std::string> columns(kCatalogColumns.begin(), kCatalogColumns.end());
    std::string line;
    for (const std::string& column : columns) {
      if (&column != &columns.front()) line += '\t';
      auto value = values.find(column);
      if (value != values.end()) line += ToShiftJis(value->second, column);
    }
    if (marcRecord.IsDeleted()) {
      // A deletion needs only its key, checked as any key is.
      std::string key = line.substr(0, line.find('\t'));
      ParseRecord(key + "\tdeleted" + std::string(kCatalogColumns.size() - 2, '\t'));
      record = CatalogRecord{};
      record.bookId = key;
      return Kind::kDeletion;
    }
    record = ParseRecord(line);
  } catch (const ECatalogError& e) {
    throw ECatalogError(Where() + ": " + e.Message());
  }
  return Kind::kBook;
}

}  // namespace tools
