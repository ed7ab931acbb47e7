// Matches fuzzed patterns against fuzzed texts in both modes and checks what must hold
// between them: exact equality, escaping, "%" and the folded mode as the looser one.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "matching/sjis_like.h"
#include "platform/sjis.h"
#include "tests/fuzz/fuzz_check.h"

using namespace matching;

using matching::MatchMode;
using matching::SjisLike;

namespace {

// A pattern that matches text alone: every single-byte "%", "_" and escape character
// gets the escape in front of it.
std::string Escaped(std::string_view text, std::string_view escape) {
  std::string pattern;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = platform::CharLength(text, i);
    const std::string_view character = text.substr(i, length);
    if (character == "%" || character == "_" || character == escape) pattern += escape;
    pattern += character;
    i += length;
  }
  return pattern;
}

bool HasWildcard(std::string_view pattern) {
  for (std::size_t i = 0; i < pattern.size(); i += platform::CharLength(pattern, i)) {
    if (pattern[i] == '%' || pattern[i] == '_') return true;
  }
  return false;
}

// Half-width voiced marks join with the katakana before them in the folded mode only,
// so one character there may be two in the exact mode.
bool HasVoicedMarkByte(std::string_view text) {
  return text.find_first_of("\xDE\xDF") != std::string_view::npos;
}

// A lead byte without a trail byte after it is a character of its own; in front of an
// escape whose first byte can be a trail byte, it pairs with the escape instead.
bool HasLoneLeadByte(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); i += platform::CharLength(text, i)) {
    if (platform::CharLength(text, i) == 1 && platform::IsLeadByte(text[i])) return true;
  }
  return false;
}

bool EndsInLeadByte(std::string_view text) {
  std::size_t i = 0;
  while (i + platform::CharLength(text, i) < text.size()) i += platform::CharLength(text, i);
  return platform::CharLength(text, i) == 1 && platform::IsLeadByte(text[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // No escape, the usual backslash, or a fuzzed character of one or two bytes.
  std::string escape;
  switch (input.ConsumeIntegralInRange(0, 2)) {
    case 1:
      escape = "\\";
      break;
    case 2:
      escape = input.ConsumeBytesAsString(input.ConsumeIntegralInRange(1, 2));
      break;
  }
  if (escape.size() == 2 && platform::CharLength(escape, 0) != 2) escape.resize(1);
  // A lone lead byte would pair with the character it escapes, and a voiced mark would
  // join the katakana before it: neither makes an escape.
  if (escape.size() == 1 && (platform::IsLeadByte(escape[0]) || HasVoicedMarkByte(escape) ||
                             escape == "%" || escape == "_")) {
    escape = {};
  }
  const std::string pattern = input.ConsumeRandomLengthString(256);
  const std::string text = input.ConsumeRemainingBytesAsString();

  const bool exact = SjisLike(pattern, text, MatchMode::kExact, escape);
  const bool folded = SjisLike(pattern, text, MatchMode::kFolded, escape);
  if (exact && !HasVoicedMarkByte(pattern) && !HasVoicedMarkByte(text)) {
    fuzz::Check(folded, "an exact match is a folded match");
  }
  // The loose mode only maps folded characters further and drops separators on both
  // sides, so it keeps every folded match in which no "_" had to take a separator.
  if (folded && pattern.find('_') == std::string::npos) {
    fuzz::Check(SjisLike(pattern, text, MatchMode::kLoose, escape),
                "a folded match without _ is a loose match");
  }
  if (!HasWildcard(pattern) && escape.empty()) {
    fuzz::Check(exact == (pattern == text), "a pattern without wildcards is an equality");
  }
  // A pattern that can stand for the start of a text: no wildcard, and no lead byte at
  // its end that would pair with the byte after it.
  const bool plainPrefix = !HasWildcard(pattern) && (pattern.empty() || !EndsInLeadByte(pattern));
  for (const MatchMode mode : {MatchMode::kExact, MatchMode::kFolded, MatchMode::kLoose}) {
    fuzz::Check(SjisLike("%", text, mode), "% matches every text");
    if (plainPrefix && (mode == MatchMode::kExact || !HasVoicedMarkByte(text))) {
      fuzz::Check(SjisLike(pattern + "%", pattern + text, mode),
                  "a plain pattern followed by % matches what starts with it");
    }
    if (!escape.empty() && !(platform::IsTrailByte(escape[0]) && HasLoneLeadByte(text))) {
      fuzz::Check(SjisLike(Escaped(text, escape), text, mode, escape), "escaped text matches");
    }
  }
  return 0;
}
