// A file-name style pattern that a whole text must match: "*" is any run of
// characters, "?" any one character, "[...]" one character of a set (ranges such as
// "a-z", "!" first for the complement); every other character stands for itself.
// ASCII letters match without regard to case; a Shift_JIS double-byte character is
// one character and is compared as a unit, so its trail byte never matches alone.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace app {

class TMask {
 public:
  // Compiles pattern. A "[" without its closing "]" stands for itself.
  explicit TMask(std::string_view pattern);

  // True when every character of text is matched by the whole pattern.
  bool Matches(std::string_view text) const;

 private:
  // A character: a single byte, or lead byte * 256 + trail byte; ASCII letters folded
  // to lower case.
  using Unit = std::uint16_t;

  struct Range {
    Unit first;
    Unit last;
  };

  struct Element {
    enum Kind { kLiteral, kAnyOne, kAnyRun, kSet } kind = kLiteral;
    Unit literal = 0;
    bool negated = false;
    std::vector<Range> ranges;

    bool Accepts(Unit unit) const;
  };

  static std::vector<Unit> Units(std::string_view text);

  std::vector<Element> Elements_;
};

}  // namespace app
