// Converts the input with the program's integer conversion and compares the result with
// a reading of the accepted forms that leaves the digits to strtoll.
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/exception.h"
#include "platform/int_conversion.h"
#include "tests/fuzz/fuzz_check.h"

using namespace platform;

namespace {

bool IsDigitOf(char c, int base) {
  if (c >= '0' && c <= '9') return true;
  return base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

// Leading blanks, a sign, "$", "x" or "0x" for hexadecimal, then nothing but digits.
std::optional<std::int32_t> Reference(std::string_view text) {
  std::size_t pos = text.find_first_not_of(' ');
  if (pos == std::string_view::npos) return std::nullopt;
  const bool negative = text[pos] == '-';
  if (text[pos] == '-' || text[pos] == '+') ++pos;
  std::string_view rest = text.substr(pos);
  int base = 10;
  for (std::string_view prefix : {"$", "x", "X", "0x", "0X"}) {
    if (rest.starts_with(prefix) && rest.size() > prefix.size()) {
      base = 16;
      rest.remove_prefix(prefix.size());
      break;
    }
  }
  if (rest.empty()) return std::nullopt;
  for (char c : rest) {
    if (!IsDigitOf(c, base)) return std::nullopt;
  }
  const std::string digits(rest);
  errno = 0;
  const long long magnitude = std::strtoll(digits.c_str(), nullptr, base);
  if (errno == ERANGE) return std::nullopt;
  const long long value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  const std::optional<std::int32_t> value = TryStrToInt(text);
  fuzz::Check(value == Reference(text), "TryStrToInt agrees with the reference");
  fuzz::Check(StrToIntDef(text, 7) == value.value_or(7), "StrToIntDef falls back alike");
  bool raised = false;
  try {
    fuzz::Check(StrToInt(text) == value, "StrToInt converts as TryStrToInt does");
  } catch (const EConvertError&) {
    raised = true;
  }
  fuzz::Check(raised == !value, "StrToInt raises exactly for what TryStrToInt rejects");
  return 0;
}
