#include "platform/string_list.h"

#include "platform/text_compare.h"

namespace platform {

std::string FieldValue(const TStringList& lines, std::string_view name) {
  for (const std::string& line : lines) {
    std::size_t equals = line.find('=');
    if (equals != std::string::npos &&
        SameTextIgnoringCase(std::string_view(line).substr(0, equals), name)) {
      return line.substr(equals + 1);
    }
  }
  return {};
}

}  // namespace platform
