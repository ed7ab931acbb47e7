// Comparison of names and messages without regard to letter case. Only ASCII letters
// fold; the texts are Shift_JIS, so the trail byte of a double-byte character, which
// may look like a letter, is compared exactly.
#pragma once

#include <string_view>

namespace platform {

// True when a and b are equal with ASCII letter case ignored.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

}  // namespace platform
