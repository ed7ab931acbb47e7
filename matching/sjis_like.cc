#include "matching/sjis_like.h"

#include <cstdint>
#include <string>
#include <vector>

#include "matching/sjis_fold.h"
#include "platform/sjis.h"

namespace matching {

namespace {

// Characters are compared as units: a single byte as itself, a double-byte character
// as lead * 256 + trail, each after folding. The two wildcards lie above every unit.
constexpr std::uint32_t kAnyRun = 0x10000;
constexpr std::uint32_t kAnyOne = 0x10001;

// Wildcard matching that backtracks only to the last "%": linear for patterns with one
// "%" and at most text times pattern steps otherwise.
bool UnitsMatch(const std::vector<std::uint32_t>& pattern, const std::vector<std::uint32_t>& text) {
  std::size_t p = 0, t = 0;
  std::size_t runAt = SIZE_MAX, resumeAt = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == kAnyOne || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == kAnyRun) {
      runAt = p++;
      resumeAt = t;
    } else if (runAt != SIZE_MAX) {
      p = runAt + 1;
      t = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == kAnyRun) ++p;
  return p == pattern.size();
}

}  // namespace

SjisLikePattern::SjisLikePattern(std::string_view pattern, MatchMode mode, std::string_view escape)
    : mode_(mode) {
  for (std::size_t i = 0; i < pattern.size();) {
    const std::size_t length = platform::CharLength(pattern, i);
    if (!escape.empty() && pattern.substr(i, length) == escape) {
      i += length;
      if (i == pattern.size()) {
        endsInEscape_ = true;
        return;
      }
      const std::uint32_t unit = NextUnit(pattern, i, mode);
      if (unit == kIgnoredUnit) continue;
      units_.push_back(unit);
    } else if (length == 1 && (pattern[i] == '%' || pattern[i] == '_')) {
      const bool run = pattern[i++] == '%';
      // Runs of "%" mean no more than one.
      if (!(run && !units_.empty() && units_.back() == kAnyRun)) {
        units_.push_back(run ? kAnyRun : kAnyOne);
      }
    } else {
      const std::uint32_t unit = NextUnit(pattern, i, mode);
      if (unit == kIgnoredUnit) continue;
      units_.push_back(unit);
    }
    if (units_.back() != kAnyRun) ++charactersNeeded_;
  }
}

bool SjisLikePattern::Matches(std::string_view text) const {
  // Every unit but "%" takes at least one byte of the text, so a text shorter than
  // that cannot match; it is refused before it is folded.
  if (endsInEscape_ || text.size() < charactersNeeded_) return false;
  // Reused between calls: LIKE runs once for every row a statement scans.
  thread_local std::vector<std::uint32_t> textUnits;
  textUnits.clear();
  for (std::size_t i = 0; i < text.size();) {
    const std::uint32_t unit = NextUnit(text, i, mode_);
    if (unit != kIgnoredUnit) textUnits.push_back(unit);
  }
  return UnitsMatch(units_, textUnits);
}

std::string FoldedText(std::string_view text, MatchMode mode) {
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::uint32_t unit = NextUnit(text, i, mode);
    if (unit == kIgnoredUnit) continue;
    if (unit > 0xFF) folded.push_back(static_cast<char>(unit >> 8));
    folded.push_back(static_cast<char>(unit & 0xFF));
  }
  return folded;
}

bool SjisLike(std::string_view pattern, std::string_view text, MatchMode mode,
              std::string_view escape) {
  return SjisLikePattern(pattern, mode, escape).Matches(text);
}

}  // namespace matching
