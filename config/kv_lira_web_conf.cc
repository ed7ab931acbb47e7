#include "config/kv_lira_web_conf.h"

#include "platform/int_conversion.h"

namespace config {

using platform::StrToIntDef;

KVLiraWebConf::KVLiraWebConf(std::string_view confFileName, GetConfValueFunction getConfValue)
    : KVConfBase(confFileName, getConfValue) {}

void KVLiraWebConf::ReadValue(std::string_view key) {
  std::string value = AskLibrary(key);
  if (key == "DB_ALIAS") {
    DbAlias = std::move(value);
  } else if (key == "EXEC_NAME") {
    ExecName = std::move(value);
  } else if (key == "QUERY_PATH") {
    QueryPath = AppendPathDelimiter(value);
  } else if (key == "HTML_PATH") {
    HtmlPath = AppendPathDelimiter(value);
  } else if (key == "LIST_MAX") {
    ListMax = StrToIntDef(value, 20);
  } else if (key == "KINTAI") {
    Kintai = value.empty() ? '\0' : value.front();
  } else if (key == "ABS_PATH") {
    AbsPath = StrToIntDef(value, 0);
  } else if (key == "AC_LIMIT") {
    AcLimit = StrToIntDef(value, 0);
  }
}

void KVLiraWebConf::GetString(std::string_view key, std::string& out) const {
  if (key == "DB_ALIAS") {
    out = DbAlias;
  } else if (key == "EXEC_NAME") {
    out = ExecName;
  } else if (key == "QUERY_PATH") {
    out = QueryPath;
  } else if (key == "HTML_PATH") {
    out = HtmlPath;
  }
}

void KVLiraWebConf::GetInteger(std::string_view key, std::int32_t& out) const {
  if (key == "LIST_MAX") {
    out = ListMax;
  } else if (key == "ABS_PATH") {
    out = AbsPath;
  } else if (key == "AC_LIMIT") {
    out = AcLimit;
  }
}

void KVLiraWebConf::GetChar(std::string_view key, char& out) const {
  if (key == "KINTAI") out = Kintai;
}

std::string AppendPathDelimiter(std::string_view path) {
  std::string result(path);
  if (!result.empty() && result.back() != '\\') result.push_back('\\');
  return result;
}

}  // namespace config
