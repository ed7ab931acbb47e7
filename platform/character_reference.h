// Numeric character references (&#NNNN; and &#xHHHH;) in Shift_JIS text: a browser sends
// one for a character its form's encoding cannot write.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace platform {

// A well-formed numeric character reference at text[i]: its Unicode character and, in
// `length`, its bytes. Decimal (at most 7 digits) or hexadecimal after "x" or "X" (at
// most 6 digits), ended by ";", naming a character a page may hold: not a control
// character, not a surrogate, at most U+10FFFF. nullopt otherwise.
std::optional<char32_t> CharacterReferenceAt(std::string_view text, std::size_t i,
                                             std::size_t& length);

}  // namespace platform
