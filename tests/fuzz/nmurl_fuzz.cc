// Encodes and decodes the input as the links of the result pages do.
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "web/nmurl.h"

using namespace web;

namespace {

bool IsEncodedByte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '+' ||
         c == '%';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  TNMURL url;
  int errors = 0;
  url.OnError = [&errors](TNMURL&, const std::string&, const std::string&) { ++errors; };

  const std::string encoded = url.URLEncode(text);
  for (char c : encoded) fuzz::Check(IsEncodedByte(c), "encoding writes only safe bytes");
  fuzz::Check(url.URLDecode(encoded) == text, "decode(encode(text)) == text");
  fuzz::Check(errors == 0, "an encoded text decodes without error");

  // Any text decodes without raising; a malformed one is reported and handed back whole.
  const std::string decoded = url.URLDecode(text);
  if (errors > 0) fuzz::Check(decoded == text, "a malformed text comes back unchanged");
  fuzz::Check(decoded.size() <= text.size(), "decoding never lengthens a text");

  url.InputString = std::string(text);
  fuzz::Check(url.GetEncodeString() == encoded, "GetEncodeString encodes InputString");
  return 0;
}
