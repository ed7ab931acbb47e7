#include "matching/stored_forms.h"

#include <cctype>
#include <map>
#include <utility>

#include "matching/sjis_fold.h"
#include "platform/sjis.h"

namespace matching {

namespace {

bool IsSingleByteCharacter(unsigned char c) {
  return (c >= 0x01 && c <= 0x7F) || (c >= 0xA1 && c <= 0xDF);
}

// The unit of the whole of `bytes` in the mode, or nullopt when the bytes are not read
// as one unit.
std::optional<std::uint32_t> UnitOf(std::string_view bytes, MatchMode mode) {
  if (bytes.empty()) return std::nullopt;
  std::size_t i = 0;
  const std::uint32_t unit = NextUnit(bytes, i, mode);
  if (i != bytes.size()) return std::nullopt;
  return unit;
}

// The bytes of a unit's own character.
std::string OwnCharacter(std::uint32_t unit) {
  if (unit < 0x100) return std::string(1, static_cast<char>(unit));
  return {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
}

using FormsByUnit = std::vector<std::pair<std::uint32_t, std::string>>;

// Every character the server can store (the single bytes that are characters, every
// lead and trail pair) and every half-width kana joined with a mark that the mode reads
// as a unit other than its own character's, with that unit: the folding table read
// backwards, without the characters (most of them) that fold to themselves.
const FormsByUnit* ReadBackwards(MatchMode mode) {
  auto* folded = new FormsByUnit;
  auto add = [folded, mode](std::string bytes, std::uint32_t ownUnit) {
    if (std::optional<std::uint32_t> unit = UnitOf(bytes, mode); unit && *unit != ownUnit)
      folded->emplace_back(*unit, std::move(bytes));
  };
  for (int c = 0x01; c <= 0xDF; ++c) {
    if (!IsSingleByteCharacter(static_cast<unsigned char>(c))) continue;
    add(std::string(1, static_cast<char>(c)), static_cast<std::uint32_t>(c));
    if (c < 0xA1) continue;
    // A joined pair has no character of its own.
    for (int mark = 0xA1; mark <= 0xDF; ++mark)
      add({static_cast<char>(c), static_cast<char>(mark)}, 0);
  }
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!platform::IsLeadByte(static_cast<unsigned char>(lead))) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (platform::IsTrailByte(static_cast<unsigned char>(trail)))
        add({static_cast<char>(lead), static_cast<char>(trail)},
            static_cast<std::uint32_t>(lead << 8 | trail));
    }
  }
  return folded;
}

// The table of ReadBackwards, built once a process and mode; small, because a request
// asks for the forms of a few units only.
const FormsByUnit& FoldedElsewhere(MatchMode mode) {
  if (mode == MatchMode::kLoose) {
    static const FormsByUnit* loose = ReadBackwards(MatchMode::kLoose);
    return *loose;
  }
  static const FormsByUnit* folded = ReadBackwards(MatchMode::kFolded);
  return *folded;
}

// The single-byte characters that `form` joins with when they stand on the given side.
std::string JoiningBytes(const std::string& form, bool before, MatchMode mode) {
  std::string joining;
  if (form.size() != 1) return joining;
  for (int c = 0x01; c <= 0xDF; ++c) {
    if (!IsSingleByteCharacter(static_cast<unsigned char>(c))) continue;
    const std::string neighbour(1, static_cast<char>(c));
    if (UnitOf(before ? neighbour + form : form + neighbour, mode)) joining += neighbour;
  }
  return joining;
}

// A character as a regular expression reads it literally: ASCII punctuation escaped
// (a backslash before a non-alphanumeric character stands for that character, inside
// brackets too), everything else as it is.
std::string Literal(std::string_view bytes) {
  std::string literal;
  for (char b : bytes) {
    const auto c = static_cast<unsigned char>(b);
    if (bytes.size() == 1 && c > 0x20 && c < 0x7F && !std::isalnum(c)) literal.push_back('\\');
    literal.push_back(b);
  }
  return literal;
}

std::string Bracket(const std::string& characters) {
  std::string bracket = "[";
  for (char c : characters) bracket += Literal(std::string(1, c));
  return bracket + "]";
}

// The expression of one unit: a text's unit there is this one.
std::optional<std::string> UnitExpression(std::uint32_t unit, MatchMode mode) {
  const std::vector<StoredForm> forms = StoredForms(unit, mode);
  if (forms.empty()) return std::nullopt;
  std::string plain;  // forms that stand alone, as members of one bracket
  std::vector<std::string> alternatives;
  int plainCount = 0;
  for (const StoredForm& form : forms) {
    if (form.joinsAfter.empty() && form.joinsBefore.empty() &&
        platform::CharLength(form.bytes, 0) == form.bytes.size()) {
      plain += Literal(form.bytes);
      ++plainCount;
      continue;
    }
    std::string alternative;
    if (!form.joinsAfter.empty()) alternative += "(?<!" + Bracket(form.joinsAfter) + ")";
    alternative += Literal(form.bytes);
    if (!form.joinsBefore.empty()) alternative += "(?!" + Bracket(form.joinsBefore) + ")";
    alternatives.push_back(alternative);
  }
  if (plainCount > 1) plain = "[" + plain + "]";
  if (alternatives.empty()) return plain;
  std::string expression = "(?:";
  if (plainCount > 0) expression += plain + "|";
  for (std::size_t a = 0; a < alternatives.size(); ++a)
    expression += (a ? "|" : "") + alternatives[a];
  return expression + ")";
}

}  // namespace

std::vector<StoredForm> StoredForms(std::uint32_t unit, MatchMode mode) {
  // The unit's own character first, when it folds to itself: the form most texts hold.
  std::vector<std::string> bytes;
  if (std::string own = OwnCharacter(unit); UnitOf(own, mode) == unit)
    bytes.push_back(std::move(own));
  for (const auto& [folded, form] : FoldedElsewhere(mode)) {
    if (folded == unit) bytes.push_back(form);
  }
  std::vector<StoredForm> forms;
  for (const std::string& b : bytes)
    forms.push_back({b, JoiningBytes(b, true, mode), JoiningBytes(b, false, mode)});
  return forms;
}

std::optional<std::string> StoredFormsRegex(std::string_view pattern, MatchMode mode,
                                            std::size_t mostBytes) {
  // The loose mode passes over separators anywhere in a text: any number of them may
  // stand between a word's characters and around it.
  std::string between;
  if (mode == MatchMode::kLoose) {
    for (const StoredForm& form : StoredForms(kIgnoredUnit, mode)) {
      if (!form.joinsAfter.empty() || !form.joinsBefore.empty()) return std::nullopt;
      between += Literal(form.bytes);
    }
    between = "[" + between + "]*";
  }
  const bool anchoredStart = pattern.empty() || pattern[0] != '%';
  std::string regex;
  bool afterWildcard = false;  // a "%" since the last unit
  std::string run;
  // Each unit's expression is made once: finding a unit's forms reads the whole folding
  // table, and a long text repeats its characters.
  std::map<std::uint32_t, std::optional<std::string>> expressions;
  auto addRun = [&]() -> bool {
    for (std::size_t i = 0; i < run.size();) {
      const std::size_t length = platform::CharLength(run, i);
      const auto first = static_cast<unsigned char>(run[i]);
      if (length == 1 && !IsSingleByteCharacter(first)) return false;
      i += length;
    }
    if (run.empty()) return true;
    // Before the first unit the expression needs no ".*" unless it is anchored (a loose
    // pattern may begin with separators, which stand for nothing, then a "%").
    if (afterWildcard && (!regex.empty() || anchoredStart)) regex += ".*";
    afterWildcard = false;
    bool firstUnit = true;
    for (std::size_t i = 0; i < run.size();) {
      const std::uint32_t unit = NextUnit(run, i, mode);
      if (unit == kIgnoredUnit) continue;
      auto known = expressions.find(unit);
      if (known == expressions.end())
        known = expressions.emplace(unit, UnitExpression(unit, mode)).first;
      if (!known->second) return false;
      regex += (firstUnit ? "" : between) + *known->second;
      firstUnit = false;
      if (regex.size() > mostBytes) return false;
    }
    run.clear();
    return true;
  };
  for (std::size_t i = 0; i < pattern.size();) {
    const std::size_t length = platform::CharLength(pattern, i);
    if (length == 1 && pattern[i] == '_') return std::nullopt;
    if (length == 1 && pattern[i] == '%') {
      if (!addRun()) return std::nullopt;
      afterWildcard = true;
    } else {
      run.append(pattern.substr(i, length));
    }
    i += length;
  }
  if (!addRun()) return std::nullopt;
  std::string whole =
      (anchoredStart ? "^" + between : "") + regex + (afterWildcard ? "" : between + "$");
  if (whole.size() > mostBytes) return std::nullopt;
  return whole;
}

std::optional<std::vector<std::string>> StoredFormsLikePatterns(std::string_view pattern,
                                                                std::size_t most, MatchMode mode) {
  if (!StoredFormsRegex(pattern, mode)) return std::nullopt;
  // A LIKE pattern cannot let separators stand between characters: under the loose mode
  // only one character between two wildcards is written so.
  if (mode == MatchMode::kLoose) {
    if (pattern.size() < 3 || pattern.front() != '%' || pattern.back() != '%') return std::nullopt;
    const std::optional<std::uint32_t> unit = UnitOf(pattern.substr(1, pattern.size() - 2), mode);
    if (!unit || *unit == kIgnoredUnit) return std::nullopt;
  }
  std::vector<std::string> patterns = {""};
  for (std::size_t i = 0; i < pattern.size();) {
    if (pattern[i] == '%') {
      for (std::string& written : patterns) written += '%';
      ++i;
      continue;
    }
    std::vector<std::string> longer;
    for (const StoredForm& form : StoredForms(NextUnit(pattern, i, mode), mode)) {
      if (!form.joinsAfter.empty() || !form.joinsBefore.empty() ||
          platform::CharLength(form.bytes, 0) != form.bytes.size() || form.bytes == "%" ||
          form.bytes == "_") {
        return std::nullopt;
      }
      for (const std::string& written : patterns) longer.push_back(written + form.bytes);
      if (longer.size() > most) return std::nullopt;
    }
    patterns = std::move(longer);
  }
  return patterns;
}

}  // namespace matching
