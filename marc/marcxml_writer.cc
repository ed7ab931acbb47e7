#include "marc/marcxml_writer.h"

namespace marc {

namespace {

constexpr char kNamespace[] = "http://www.loc.gov/MARC21/slim";

void AppendEscaped(std::string_view text, std::string& out) {
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += "\xEF\xBF\xBD";
        } else {
          out.push_back(c);
        }
    }
  }
}

// The <record> element, each line led by indent; with the namespace declared on it when
// it is written outside a collection.
void AppendRecord(const Record& record, std::string_view indent, bool declareNamespace,
                  std::string& out) {
  out += indent;
  out += declareNamespace ? std::string("<record xmlns=\"") + kNamespace + "\">\n" : "<record>\n";
  out += indent;
  out += "  <leader>";
  AppendEscaped(record.leader, out);
  out += "</leader>\n";
  for (const Field& field : record.fields) {
    out += indent;
    if (field.IsControl()) {
      out += "  <controlfield tag=\"";
      AppendEscaped(field.tag, out);
      out += "\">";
      AppendEscaped(field.data, out);
      out += "</controlfield>\n";
      continue;
    }
    out += "  <datafield tag=\"";
    AppendEscaped(field.tag, out);
    out += "\" ind1=\"";
    AppendEscaped(field.indicators.substr(0, 1), out);
    out += "\" ind2=\"";
    AppendEscaped(field.indicators.substr(1, 1), out);
    out += "\">\n";
    for (const Subfield& subfield : field.subfields) {
      out += indent;
      out += "    <subfield code=\"";
      AppendEscaped(std::string_view(&subfield.code, 1), out);
      out += "\">";
      AppendEscaped(subfield.value, out);
      out += "</subfield>\n";
    }
    out += indent;
    out += "  </datafield>\n";
  }
  out += indent;
  out += "</record>\n";
}

}  // namespace

std::string XmlText(std::string_view utf8) {
  std::string xml;
  xml.reserve(utf8.size());
  AppendEscaped(utf8, xml);
  return xml;
}

std::string MarcXmlHead() {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<collection xmlns=\"") +
         kNamespace + "\">\n";
}

void AppendMarcXml(const Record& record, std::string& out) {
  AppendRecord(record, "  ", false, out);
}

std::string MarcXmlTail() { return "</collection>\n"; }

std::string MarcXmlRecord(const Record& record) {
  std::string out;
  AppendRecord(record, "", true, out);
  return out;
}

}  // namespace marc
