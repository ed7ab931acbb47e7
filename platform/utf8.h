// UTF-8, the encoding of the texts written for other programs and of MARC records: one
// character decoded or encoded.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The character at text[i], moving i past it; nullopt (i past the first byte) for a
// byte sequence that is no UTF-8 character: a stray or missing continuation byte, an
// overlong form, a surrogate, a value past U+10FFFF.
std::optional<char32_t> NextUtf8(std::string_view text, std::size_t& i);

// Appends the UTF-8 bytes of a character.
void AppendUtf8(char32_t character, std::string& out);

}  // namespace platform
