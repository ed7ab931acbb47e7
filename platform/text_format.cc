#include "platform/text_format.h"

#include <vector>

namespace platform {

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
  const std::vector<std::string_view> values(args);
  std::string out;
  out.reserve(pattern.size() + 32);
  std::size_t next = 0;
  auto argument = [&](std::size_t index) {
    if (index < values.size()) out.append(values[index]);
  };
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%' || i + 1 == pattern.size()) {
      out.push_back(pattern[i]);
      continue;
    }
    char kind = pattern[i + 1];
    if (kind == '%') {
      out.push_back('%');
      ++i;
    } else if (kind == 's' || kind == 'd') {
      argument(next++);
      ++i;
    } else if (kind >= '0' && kind <= '9' && i + 3 < pattern.size() && pattern[i + 2] == ':') {
      argument(static_cast<std::size_t>(kind - '0'));
      i += 3;
    } else {
      out.push_back('%');
    }
  }
  return out;
}

}  // namespace platform
