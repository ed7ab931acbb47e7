#include "platform/utf8.h"

namespace platform {

std::optional<char32_t> NextUtf8(std::string_view text, std::size_t& i) {
  const unsigned char lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  const int more = lead >= 0xC2 && lead < 0xE0   ? 1
                   : lead >= 0xE0 && lead < 0xF0 ? 2
                   : lead >= 0xF0 && lead < 0xF5 ? 3
                                                 : 0;
  if (more == 0) return std::nullopt;
  char32_t c = lead & (0x3F >> more);
  for (int k = 0; k < more; ++k) {
    if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
      return std::nullopt;
    c = (c << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (c < kSmallest[more] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return std::nullopt;
  return c;
}

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace platform
