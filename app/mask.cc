#include "app/mask.h"

#include "platform/sjis.h"

namespace app {

bool TMask::Element::Accepts(Unit unit) const {
  switch (kind) {
    case kLiteral:
      return unit == literal;
    case kAnyOne:
      return true;
    case kSet: {
      bool inSet = false;
      for (const Range& range : ranges)
        inSet = inSet || (unit >= range.first && unit <= range.last);
      return inSet != negated;
    }
    case kAnyRun:
      break;
  }
  return false;
}

std::vector<TMask::Unit> TMask::Units(std::string_view text) {
  std::vector<Unit> units;
  units.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (platform::CharLength(text, pos) == 2) {
      units.push_back(static_cast<Unit>(lead << 8 | static_cast<unsigned char>(text[pos + 1])));
      pos += 2;
    } else {
      units.push_back(lead >= 'A' && lead <= 'Z' ? static_cast<Unit>(lead - 'A' + 'a') : lead);
      pos += 1;
    }
  }
  return units;
}

TMask::TMask(std::string_view pattern) {
  const std::vector<Unit> units = Units(pattern);
  // One element a unit at most: the module's masks are made again for every request.
  Elements_.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    Element element;
    if (units[i] == '*') {
      // Runs of "*" mean the same as one.
      if (!Elements_.empty() && Elements_.back().kind == Element::kAnyRun) continue;
      element.kind = Element::kAnyRun;
    } else if (units[i] == '?') {
      element.kind = Element::kAnyOne;
    } else if (units[i] == '[') {
      std::size_t close = i + 1;
      // "]" right after "[" or "[!" is a member, not the end of the set.
      if (close < units.size() && units[close] == '!') ++close;
      if (close < units.size()) ++close;
      while (close < units.size() && units[close] != ']') ++close;
      if (close < units.size()) {
        element.kind = Element::kSet;
        std::size_t j = i + 1;
        if (units[j] == '!') {
          element.negated = true;
          ++j;
        }
        for (; j < close; ++j) {
          if (j + 2 < close && units[j + 1] == '-') {
            element.ranges.push_back({units[j], units[j + 2]});
            j += 2;
          } else {
            element.ranges.push_back({units[j], units[j]});
          }
        }
        i = close;
      } else {
        element.literal = units[i];
      }
    } else {
      element.literal = units[i];
    }
    Elements_.push_back(std::move(element));
  }
}

bool TMask::Matches(std::string_view text) const {
  const std::vector<Unit> units = Units(text);
  // Greedy matching with one remembered "*": on a mismatch the latest "*" takes one
  // more character and matching resumes after it. Earlier stars never need to take
  // back characters, so this is linear in practice and quadratic at worst.
  std::size_t e = 0, u = 0;
  std::size_t starElement = Elements_.size(), starUnit = 0;
  while (u < units.size()) {
    if (e < Elements_.size() && Elements_[e].kind == Element::kAnyRun) {
      starElement = e++;
      starUnit = u;
    } else if (e < Elements_.size() && Elements_[e].Accepts(units[u])) {
      ++e;
      ++u;
    } else if (starElement < Elements_.size()) {
      e = starElement + 1;
      u = ++starUnit;
    } else {
      return false;
    }
  }
  while (e < Elements_.size() && Elements_[e].kind == Element::kAnyRun) ++e;
  return e == Elements_.size();
}

}  // namespace app
