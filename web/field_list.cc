#include "web/field_list.h"

#include "platform/int_conversion.h"

namespace web {

using platform::StrToInt;
using platform::TStringList;

namespace {

bool Contains(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }

// Drops a pair of quotes (both "'" or both '"') that encloses the whole value of a
// "NAME=value" field (the whole field when it has no "="). Quotes anywhere else are part
// of the value, so a label or a compared value can hold one.
void DropEnclosingQuotes(std::string& field) {
  const std::size_t equals = field.find('=');
  const std::size_t start = equals == std::string::npos ? 0 : equals + 1;
  if (field.size() - start < 2) return;
  const char open = field[start];
  if ((open == '"' || open == '\'') && field.back() == open) {
    field.pop_back();
    field.erase(start, 1);
  }
}

}  // namespace

std::string DecodeFieldText(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      decoded.push_back(' ');
    } else if (c == '%' && i + 1 < text.size() && text[i + 1] == '%') {
      decoded.push_back('%');
      ++i;
    } else if (c == '%' && i + 2 < text.size()) {
      // The same conversion as any other hexadecimal text, so a bad escape fails with
      // the same message as a bad number.
      decoded.push_back(static_cast<char>(StrToInt(std::string("$") += text.substr(i + 1, 2))));
      i += 2;
    } else {
      decoded.push_back(c);
    }
  }
  return decoded;
}

void SplitFieldList(std::string_view separators, std::string_view whitespace, std::string_view text,
                    TStringList& list, bool stripQuotes) {
  const std::string skipped = std::string(whitespace) + "\r\n";
  const std::string stops = std::string(separators) + std::string("\0\r\n\"", 4);
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && Contains(skipped, text[pos])) ++pos;
    if (pos == text.size()) break;
    std::string_view field;
    if (text[pos] == '"') {
      // A leading quote is no part of the field; its closing quote ends the field.
      std::size_t close = text.find('"', pos + 1);
      std::size_t end = close == std::string_view::npos ? text.size() : close;
      field = text.substr(pos + 1, end - pos - 1);
      pos = end + 1;
    } else {
      std::size_t end = pos;
      while (end < text.size() && !Contains(stops, text[end])) ++end;
      if (end < text.size() && text[end] == '"') {
        // A quote inside the field keeps the quoted stretch, closing quote included;
        // the byte after the closing quote ends the field whatever it is.
        std::size_t close = text.find('"', end + 1);
        std::size_t last = close == std::string_view::npos ? text.size() : close + 1;
        field = text.substr(pos, last - pos);
        pos = last + 1;
      } else {
        field = text.substr(pos, end - pos);
        pos = end + 1;
      }
    }
    if (field.empty()) continue;
    std::string decoded = DecodeFieldText(field);
    if (stripQuotes) DropEnclosingQuotes(decoded);
    list.push_back(std::move(decoded));
  }
}

}  // namespace web
