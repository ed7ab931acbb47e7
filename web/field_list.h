// Cuts request texts and tag parameter texts into name=value lines. Splitting comes
// first and decoding second, so an encoded separator (%26 for "&") stays inside its
// field.
#pragma once

#include <string>
#include <string_view>

#include "platform/string_list.h"

namespace web {

// Appends the fields of text to list (which is not cleared). A field ends at a byte of
// separators, NUL, CR, LF or a double quote; bytes of whitespace, CR and LF are skipped
// at its start. A field that opens with a double quote runs to the closing quote; a
// quote later in a field takes everything up to its closing quote, and the byte after
// that quote ends the field. Empty fields are dropped; the others are decoded and, when
// stripQuotes, lose a pair of "'" or '"' around the whole value (after the first "=");
// every other quote is kept. Raises EConvertError for a malformed escape.
void SplitFieldList(std::string_view separators, std::string_view whitespace, std::string_view text,
                    platform::TStringList& list, bool stripQuotes);

// "+" becomes a blank, "%%" a "%", and "%" with two hexadecimal digits the byte they
// name. Raises EConvertError "'$XY' は整数ではありません" when the two bytes XY after a
// "%" are not both hexadecimal digits. A "%" with fewer than two bytes after it is kept
// as it stands.
std::string DecodeFieldText(std::string_view text);

}  // namespace web
