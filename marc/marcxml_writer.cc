#include "marc/marcxml_writer.h"

namespace marc {

namespace {

// Escapes the five XML specials; control characters other than tab, LF and CR cannot
// appear in XML 1.0 at all and are dropped (MARC data holds none).
void AppendEscaped(std::string_view text, std::string& out) {
  for (char c : text) {
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
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += c;
    }
  }
}

}  // namespace

std::string MarcXmlHead() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<collection xmlns=\"http://www.loc.gov/MARC21/slim\">\n";
}

void AppendMarcXml(const Record& record, std::string& out) {
  out += "  <record>\n    <leader>";
  AppendEscaped(record.leader, out);
  out += "</leader>\n";
  for (const Field& field : record.fields) {
    if (field.IsControl()) {
      out += "    <controlfield tag=\"" + field.tag + "\">";
      AppendEscaped(field.data, out);
      out += "</controlfield>\n";
      continue;
    }
    out += "    <datafield tag=\"" + field.tag + "\" ind1=\"";
    AppendEscaped(field.indicators.substr(0, 1), out);
    out += "\" ind2=\"";
    AppendEscaped(field.indicators.substr(1, 1), out);
    out += "\">\n";
    for (const Subfield& subfield : field.subfields) {
      out += "      <subfield code=\"";
      AppendEscaped(std::string_view(&subfield.code, 1), out);
      out += "\">";
      AppendEscaped(subfield.value, out);
      out += "</subfield>\n";
    }
    out += "    </datafield>\n";
  }
  out += "  </record>\n";
}

std::string MarcXmlTail() { return "</collection>\n"; }

}  // namespace marc
