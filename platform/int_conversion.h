// The one text-to-integer conversion of the program, shared by the request, the
// configuration and the template tags: optional leading blanks, an optional sign,
// then decimal digits, or hexadecimal digits after "$", "x" or "0x". The whole text
// must convert and the value must fit a signed 32-bit integer.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// The value of the text, or nothing when it does not convert.
std::optional<std::int32_t> TryStrToInt(std::string_view text);

// The value of the text. Raises EConvertError "'<text>' は整数ではありません" otherwise.
std::int32_t StrToInt(std::string_view text);

// The value of the text, or fallback when it does not convert.
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);

}  // namespace platform
