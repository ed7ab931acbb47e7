#include "web/html_text.h"

#include "platform/character_reference.h"

namespace web {

namespace {

std::string Escaped(std::string_view text, bool keepReferences) {
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::size_t length = 0;
    if (keepReferences && c == '&' && platform::CharacterReferenceAt(text, i, length)) {
      escaped.append(text.substr(i, length));
      i += length - 1;
      continue;
    }
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped.push_back(c);
    }
  }
  return escaped;
}

}  // namespace

std::string EscapeHtml(std::string_view text) { return Escaped(text, false); }

std::string EscapeHtmlKeepingReferences(std::string_view text) { return Escaped(text, true); }

}  // namespace web
