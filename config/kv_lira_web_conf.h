// The configuration reader of this program: its eight keys, their types and their
// initial values. The web module creates it, loads it once and copies the values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/kv_conf_base.h"

namespace config {

class KVLiraWebConf : public KVConfBase {
 public:
  // Reader for the configuration file confFileName, holding the initial values.
  explicit KVLiraWebConf(std::string_view confFileName,
                         GetConfValueFunction getConfValue = &_GetConfValue);

  // Asks the library for key (always exactly one call) and stores the answer: the text
  // keys as they are (directories with AppendPathDelimiter), LIST_MAX as an integer or
  // 20, ABS_PATH and AC_LIMIT as an integer or 0, KINTAI as its first byte or NUL.
  // Keys other than the eight change nothing.
  void ReadValue(std::string_view key) override;
  // DB_ALIAS, EXEC_NAME, QUERY_PATH, HTML_PATH.
  void GetString(std::string_view key, std::string& out) const override;
  // LIST_MAX, ABS_PATH, AC_LIMIT.
  void GetInteger(std::string_view key, std::int32_t& out) const override;
  // KINTAI.
  void GetChar(std::string_view key, char& out) const override;
  // The library's answer for a key beyond the eight, asked now; empty text when the
  // file has none. Read only when a request needs it.
  std::string OptionalText(std::string_view key) const { return AskLibrary(key); }

 private:
  std::string DbAlias = "lirawin";
  std::string ExecName = "liraweb.exe";
  std::string QueryPath;
  std::string HtmlPath;
  char Kintai = '3';
  std::int32_t ListMax = 20;
  std::int32_t AbsPath = 0;
  std::int32_t AcLimit = 0;
};

// The directory text ending in one backslash: empty text and text whose last byte is
// 0x5C stay as they are (the last byte is looked at alone, whatever character it ends).
std::string AppendPathDelimiter(std::string_view path);

}  // namespace config
