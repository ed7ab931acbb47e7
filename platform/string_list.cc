#include "platform/string_list.h"

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x -= 32;
    if (y >= 'a' && y <= 'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string FieldValue(const TStringList& lines, std::string_view name) {
  for (const std::string& line : lines) {
    std::size_t equals = line.find('=');
    if (equals != std::string::npos && SameIgnoringCase(std::string_view(line).substr(0, equals), name)) {
      return line.substr(equals + 1);
    }
  }
  return {};
}
