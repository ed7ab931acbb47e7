#include "tests/support/iconv_text.h"

#include <iconv.h>

namespace test_support {

std::optional<std::string> IconvText(const char* to, const char* from, std::string text) {
  iconv_t cd = iconv_open(to, from);
  std::string out(text.size() * 4 + 8, '\0');
  char* in = text.data();
  char* at = out.data();
  std::size_t inLeft = text.size(), outLeft = out.size();
  const bool ok = iconv(cd, &in, &inLeft, &at, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace test_support
