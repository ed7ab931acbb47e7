// Percent-encodes and decodes 8-bit text for the query strings of the links the
// program writes and reads back. It knows nothing of character sets: a Shift_JIS
// double-byte character is two bytes to encode.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace web {

class TNMURL;

// Reports a failed operation: operation names it ("Error during decode"), errMsg says why.
using TOnErrorEvent =
    std::function<void(TNMURL& sender, const std::string& operation, const std::string& errMsg)>;

class TNMURL {
 public:
  // The text that GetEncodeString and GetDecodeString work on; empty at first.
  std::string InputString;

  // Told about a malformed escape met by URLDecode; may be left unset.
  TOnErrorEvent OnError;

  // ASCII letters and digits stay, a blank becomes "+", every other byte "%XY" with two
  // upper-case hexadecimal digits.
  std::string URLEncode(std::string_view text);

  // "+" becomes a blank and "%XY" the byte with the hexadecimal value XY (either letter
  // case). When some "%" is not followed by two hexadecimal digits, OnError is told and
  // the text is returned unchanged. Never raises for bad input.
  std::string URLDecode(std::string_view text);

  // URLEncode of InputString.
  std::string GetEncodeString() { return URLEncode(InputString); }

  // URLDecode of InputString.
  std::string GetDecodeString() { return URLDecode(InputString); }
};

}  // namespace web
