#include "tools/text_encoding.h"

#include <cerrno>
#include <string>

#include "tools/catalog_error.h"

namespace tools {

FileEncoding ParseEncodingName(std::string_view name) {
  std::string lower;
  for (char c : name) lower.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
  if (lower == "auto") return FileEncoding::kAuto;
  if (lower == "utf-8" || lower == "utf8") return FileEncoding::kUtf8;
  if (lower == "sjis" || lower == "shift_jis" || lower == "cp932") return FileEncoding::kShiftJis;
  throw ECatalogError("unknown encoding '" + std::string(name) + "' (use auto, utf-8 or sjis)");
}

FileEncoding DetectEncoding(std::string_view sample) {
  std::size_t i = 0;
  while (i < sample.size()) {
    unsigned char c = static_cast<unsigned char>(sample[i]);
    std::size_t length = c < 0x80             ? 1
                         : (c & 0xE0) == 0xC0 ? 2
                         : (c & 0xF0) == 0xE0 ? 3
                         : (c & 0xF8) == 0xF0 ? 4
                                              : 0;
    if (length == 0 || (length == 2 && c < 0xC2)) return FileEncoding::kShiftJis;
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= sample.size()) return FileEncoding::kUtf8;
      if ((static_cast<unsigned char>(sample[i + k]) & 0xC0) != 0x80)
        return FileEncoding::kShiftJis;
    }
    i += length;
  }
  return FileEncoding::kUtf8;
}

TextConverter::TextConverter(const char* to, const char* from) : handle_(iconv_open(to, from)) {
  if (handle_ == reinterpret_cast<iconv_t>(-1))
    throw ECatalogError(std::string("iconv cannot convert from ") + from + " to " + to);
}

TextConverter::~TextConverter() { iconv_close(handle_); }

std::string TextConverter::Convert(std::string_view text) {
  // A Shift_JIS text is never longer than its UTF-8 form, and a UTF-8 text at most
  // twice as long as its Shift_JIS form (two bytes become three at most).
  std::string out(text.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* next = out.data();
  std::size_t outLeft = out.size();
  iconv(handle_, nullptr, nullptr, nullptr, nullptr);
  if (iconv(handle_, &in, &inLeft, &next, &outLeft) == static_cast<std::size_t>(-1)) {
    std::size_t at = text.size() - inLeft;
    std::string reason = errno == EILSEQ
                             ? "a character that Shift_JIS (CP932) cannot hold or a bad byte"
                             : "an incomplete character";
    throw ECatalogError(reason + " at byte " + std::to_string(at + 1) + " of the line");
  }
  out.resize(out.size() - outLeft);
  return out;
}

std::string Utf8ToShiftJis(std::string_view utf8) {
  TextConverter converter("CP932", "UTF-8");
  return converter.Convert(utf8);
}

}  // namespace tools
