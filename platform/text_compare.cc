#include "platform/text_compare.h"

#include "platform/sjis.h"

namespace platform {

namespace {

unsigned char Lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

}  // namespace

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size();) {
    if (CharLength(a, i) == 2) {
      if (a.substr(i, 2) != b.substr(i, 2)) return false;
      i += 2;
      continue;
    }
    if (Lower(a[i]) != Lower(b[i])) return false;
    ++i;
  }
  return true;
}

}  // namespace platform
