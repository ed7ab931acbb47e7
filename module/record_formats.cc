#include "module/record_formats.h"

#include <initializer_list>
#include <map>
#include <utility>

#include "marc/marc_mapping.h"
#include "marc/marcxml_writer.h"

namespace module {

namespace {

// A value on one line: control characters (line breaks among them) as blanks.
std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return line;
}

std::string BibtexText(std::string_view text) {
  std::string escaped;
  for (const char c : OneLine(text)) {
    switch (c) {
      case '\\':
        escaped += "\\textbackslash{}";
        break;
      case '^':
        escaped += "\\^{}";
        break;
      case '~':
        escaped += "\\~{}";
        break;
      case '{':
      case '}':
      case '$':
      case '&':
      case '%':
      case '#':
      case '_':
        escaped.push_back('\\');
        escaped.push_back(c);
        break;
      default:
        escaped.push_back(c);
    }
  }
  return escaped;
}

// A URL inside a BibTeX field, which some readers take verbatim: its braces and
// backslashes (which only a forged Host header brings) percent-encoded.
std::string BibtexUrl(std::string_view url) {
  std::string escaped;
  for (const char c : OneLine(url)) {
    if (c == '{') {
      escaped += "%7B";
    } else if (c == '}') {
      escaped += "%7D";
    } else if (c == '\\') {
      escaped += "%5C";
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

}  // namespace

std::string AsciiUrl(std::string_view url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string ascii;
  for (const unsigned char c : url) {
    if (c <= 0x20 || c >= 0x7F) {
      ascii += {'%', kHex[c >> 4], kHex[c & 0x0F]};
    } else {
      ascii.push_back(static_cast<char>(c));
    }
  }
  return ascii;
}

std::string SafeKey(std::string_view key) {
  if (key.empty()) return "record";
  std::string safe(key);
  for (char& c : safe) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
    if (!kept) c = '_';
  }
  return safe;
}

marc::Record BookMarcRecord(const BookFields& book) {
  std::map<std::string, std::string> values;
  const std::pair<const char*, const std::string*> columns[] = {
      {"book_id", &book.key},
      {"title", &book.title},
      {"title_kana", &book.titleReading},
      {"author", &book.author},
      {"author_kana", &book.authorReading},
      {"publisher", &book.publisher},
      {"isbn", &book.isbn},
      {"subject", &book.subject},
      {"call_number", &book.callNumber},
      {"price", &book.price},
      {"year", &book.year},
      {"pages", &book.pages},
      {"size", &book.size},
      {"contents", &book.contents},
      {"location", &book.location}};
  for (const auto& [column, value] : columns) {
    if (!value->empty()) values[column] = *value;
  }
  return marc::Mapping::Default().Write(values);
}

std::string RisRecord(const BookFields& book, std::string_view url) {
  std::string ris = "TY  - BOOK\r\n";
  const std::initializer_list<std::pair<const char*, const std::string*>> tags = {
      {"ID", &book.key},       {"TI", &book.title},      {"AU", &book.author},
      {"PB", &book.publisher}, {"PY", &book.year},       {"SN", &book.isbn},
      {"KW", &book.subject},   {"CN", &book.callNumber}, {"AB", &book.contents},
  };
  for (const auto& [tag, value] : tags) {
    if (!value->empty()) ris += std::string(tag) + "  - " + OneLine(*value) + "\r\n";
  }
  if (!url.empty()) ris += "UR  - " + OneLine(url) + "\r\n";
  return ris + "ER  - \r\n";
}

std::string BibtexRecord(const BookFields& book, std::string_view url) {
  std::string bib = "@book{liraweb-" + SafeKey(book.key) + ",\n";
  const std::initializer_list<std::pair<const char*, const std::string*>> fields = {
      {"title", &book.title},     {"author", &book.author},     {"publisher", &book.publisher},
      {"year", &book.year},       {"isbn", &book.isbn},         {"keywords", &book.subject},
      {"pagetotal", &book.pages}, {"abstract", &book.contents},
  };
  for (const auto& [name, value] : fields) {
    if (!value->empty()) bib += "  " + std::string(name) + " = {" + BibtexText(*value) + "},\n";
  }
  if (!url.empty()) bib += "  url = {" + BibtexUrl(url) + "},\n";
  return bib + "}\n";
}

std::string DublinCoreXml(const BookFields& book, std::string_view url, bool holdings) {
  std::string xml =
      "<srw_dc:dc xmlns:srw_dc=\"info:srw/schema/1/dc-schema\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n";
  auto element = [&](const char* name, const std::string& value) {
    if (!value.empty()) {
      xml += std::string("<dc:") + name + ">" + marc::XmlText(value) + "</dc:" + name + ">\n";
    }
  };
  element("title", book.title);
  element("creator", book.author);
  element("publisher", book.publisher);
  element("date", book.year);
  element("subject", book.subject);
  element("description", book.contents);
  element("identifier", book.isbn.empty() ? "" : "urn:isbn:" + book.isbn);
  element("identifier", std::string(url));
  if (holdings) element("identifier", book.callNumber);
  const std::string extent = book.pages.empty() ? "" : book.pages + " p.";
  element("format",
          extent.empty() || book.size.empty() ? extent + book.size : extent + " " + book.size);
  element("type", "Text");
  return xml + "</srw_dc:dc>\n";
}

}  // namespace module
