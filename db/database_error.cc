#include "db/database_error.h"

#include <cstdio>

#include "platform/text_compare.h"
#include "platform/japanese_texts.h"
#include "platform/trim.h"

namespace db {

using platform::SameTextIgnoringCase;
using platform::TrimmedBy;

namespace {

// The code 2F01 answers a start-up request of an engine already running, so it is
// the one code that is no start-up failure while the engine is not marked started.
constexpr std::uint16_t kAlreadyStartedCode = 0x2F01;
// The general SQL error: its own text says nothing the stack entries do not.
constexpr std::uint16_t kGeneralSqlCode = 0x2EC4;

// The message pattern with its "%.4x" filled by the code in four capital hex digits.
std::string WithHexCode(std::string_view pattern, std::uint16_t code) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(code));
  std::string out(pattern);
  std::size_t hole = out.find("%.4x");
  if (hole != std::string::npos) out.replace(hole, 4, hex);
  return out;
}

bool IsBlankOrControl(unsigned char c) { return c <= ' ' || c == 0x7F; }


class DistinctTexts {
 public:
  void Add(std::string_view text) {
    text = TrimmedBy(text, IsBlankOrControl);
    if (text.empty()) return;
    for (const std::string& known : texts_) {
      if (SameTextIgnoringCase(known, text)) return;
    }
    texts_.emplace_back(text);
  }

  bool Empty() const { return texts_.empty(); }

  std::string Joined() const {
    std::string out;
    for (const std::string& text : texts_) {
      if (!out.empty()) out += "\r\n";
      out += text;
    }
    return out;
  }

 private:
  std::vector<std::string> texts_;
};

}  // namespace

std::string ComposeEngineMessage(std::uint16_t code, bool engineStarted,
                                 std::string_view engineName, const EngineTextOf& textOf,
                                 const std::vector<TDBError>& stack) {
  if (!engineStarted && code != kAlreadyStartedCode) {
    return std::string(engineName) + " " + WithHexCode(platform::texts::kEngineStartupFailed, code);
  }
  DistinctTexts collected;
  if (code != kGeneralSqlCode) collected.Add(textOf(code));
  for (const TDBError& entry : stack) {
    if (entry.NativeError == 0 && code != kGeneralSqlCode) collected.Add(textOf(entry.ErrorCode));
    collected.Add(entry.Message);
  }
  if (collected.Empty())
    return std::string(engineName) + WithHexCode(platform::texts::kEngineErrorCode, code);
  return collected.Joined();
}

}  // namespace db
