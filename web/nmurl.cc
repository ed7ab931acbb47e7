#include "web/nmurl.h"

#include "platform/int_conversion.h"
#include "platform/japanese_texts.h"
#include "platform/text_format.h"

namespace web {

using platform::FormatText;
using platform::TryStrToInt;

namespace {

bool StaysAsItIs(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string TNMURL::URLEncode(std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size() * 3);
  for (const unsigned char c : text) {
    if (StaysAsItIs(c)) {
      encoded.push_back(static_cast<char>(c));
    } else if (c == ' ') {
      encoded.push_back('+');
    } else {
      encoded.push_back('%');
      encoded.push_back(kHexDigits[c >> 4]);
      encoded.push_back(kHexDigits[c & 0x0F]);
    }
  }
  return encoded;
}

std::string TNMURL::URLDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '+') {
      decoded.push_back(' ');
      i += 1;
    } else if (c == '%') {
      // The two bytes after "%" read as a hexadecimal number; at the end of the text
      // there may be fewer, which is as malformed as two bytes that are no digits.
      std::string number = "$";
      number += text.substr(i + 1, 2);
      const auto value = number.size() == 3 ? TryStrToInt(number) : std::nullopt;
      if (!value) {
        if (OnError)
          OnError(*this, "Error during decode",
                  FormatText(platform::texts::kNotAnInteger, {number}));
        return std::string(text);
      }
      decoded.push_back(static_cast<char>(*value));
      i += 3;
    } else {
      decoded.push_back(c);
      i += 1;
    }
  }
  return decoded;
}

}  // namespace web
