#include "marc/xml_text.h"

namespace marc {

std::string XmlText(std::string_view utf8) {
  std::string xml;
  xml.reserve(utf8.size());
  for (const char c : utf8) {
    switch (c) {
      case '&':
        xml += "&amp;";
        break;
      case '<':
        xml += "&lt;";
        break;
      case '>':
        xml += "&gt;";
        break;
      case '"':
        xml += "&quot;";
        break;
      case '\'':
        xml += "&apos;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          xml += "\xEF\xBF\xBD";
        } else {
          xml.push_back(c);
        }
    }
  }
  return xml;
}

}  // namespace marc
