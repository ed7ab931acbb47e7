// UTF-8, the encoding of every text of a MARC record once read: one character decoded or
// encoded, and the numeric character references that stand for characters a record's
// encoding could not hold (the MARC-8 convention &#xHHHH;) read as those characters.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/utf8.h"

namespace marc {

using platform::AppendUtf8;
using platform::NextUtf8;

// The text with each well-formed numeric character reference replaced by its character.
std::string ReadReferences(std::string_view utf8);

}  // namespace marc
