// Character sets of catalogue files. The program reads Shift_JIS (code page 932) only,
// so every text the tools store is converted to it here, with glibc's iconv.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace tools {

enum class FileEncoding { kAuto, kUtf8, kShiftJis };

// Answers the encoding named by a command-line word (auto, utf-8, utf8, sjis, shift_jis,
// cp932; any letter case). Raises ECatalogError for any other word.
FileEncoding ParseEncodingName(std::string_view name);

// Answers kUtf8 when the bytes are well-formed UTF-8 (a sequence cut off at the end of
// the sample counts as well-formed), else kShiftJis.
FileEncoding DetectEncoding(std::string_view sample);

// One direction of conversion, opened once and reused for every line of a file.
class TextConverter {
 public:
  TextConverter(const char* to, const char* from);
  ~TextConverter();
  TextConverter(const TextConverter&) = delete;
  TextConverter& operator=(const TextConverter&) = delete;

  // Answers the text converted; raises ECatalogError when a character is invalid in the
  // source or has no counterpart in the target.
  std::string Convert(std::string_view text);

 private:
  iconv_t handle_;
};

// Answers the Shift_JIS bytes of a UTF-8 text; raises ECatalogError as Convert does.
std::string Utf8ToShiftJis(std::string_view utf8);

}  // namespace tools
