// Derives the parameters of the input as SQL text and compares the result of plain ASCII
// text without quotes with a simple reading of the marker rules.
#include <string>

#include "db/param_derivation.h"
#include "tests/fuzz/fuzz_check.h"

using namespace db;

namespace {

bool EndsName(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

// For ASCII text without quotes: "::" is one colon, a colon with something after it
// starts a name that runs to a delimiter or the end, and a colon at the end stays.
TDerivedSql PlainDerivation(std::string_view sql) {
  TDerivedSql derived;
  for (std::size_t i = 0; i < sql.size();) {
    if (sql[i] != ':' || i + 1 == sql.size()) {
      derived.EngineText.push_back(sql[i++]);
    } else if (sql[i + 1] == ':') {
      derived.EngineText.push_back(':');
      i += 2;
    } else {
      std::size_t end = i + 1;
      while (end < sql.size() && !EndsName(sql[end])) ++end;
      derived.ParamNames.emplace_back(sql.substr(i + 1, end - i - 1));
      derived.EngineText.push_back('?');
      i = end;
    }
  }
  return derived;
}

bool IsPlain(std::string_view sql) {
  for (unsigned char c : sql) {
    if (c >= 0x80 || c == '\'' || c == '"' || c == '`') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view sql = fuzz::AsText(data, size);
  const TDerivedSql derived = DeriveParams(sql);
  fuzz::Check(derived.EngineText.size() <= sql.size(), "markers never lengthen the text");
  if (sql.find(':') == std::string_view::npos) {
    fuzz::Check(derived.EngineText == sql && derived.ParamNames.empty(), "no colon, no change");
  }
  if (IsPlain(sql)) {
    const TDerivedSql expected = PlainDerivation(sql);
    fuzz::Check(derived.EngineText == expected.EngineText, "engine text of plain SQL");
    fuzz::Check(derived.ParamNames == expected.ParamNames, "parameter names of plain SQL");
  }
  return 0;
}
