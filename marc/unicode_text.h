// UTF-8, the encoding of every text of a MARC record once read: one character decoded or
// encoded, and the numeric character references that stand for characters a record's
// encoding could not hold (the MARC-8 convention &#xHHHH;) read as those characters.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace marc {

// The character at text[i], moving i past it; nullopt (i past the first byte) for a
// byte sequence that is no UTF-8 character: a stray or missing continuation byte, an
// overlong form, a surrogate, a value past U+10FFFF.
std::optional<char32_t> NextUtf8(std::string_view text, std::size_t& i);

// Appends the UTF-8 bytes of a character.
void AppendUtf8(char32_t character, std::string& out);

// The text with each well-formed numeric character reference replaced by its character.
std::string ReadReferences(std::string_view utf8);

}  // namespace marc
