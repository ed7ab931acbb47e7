// Values taken from the request are written into pages only as character
// references, so that a link cannot smuggle markup into a page.
#pragma once

#include <string>
#include <string_view>

namespace web {

// The text with "&", "<", ">", '"' and "'" written as character references. The five
// bytes never occur as trail bytes of Shift_JIS characters, so bytes are safe to test.
std::string EscapeHtml(std::string_view text);

// The same, but a well-formed numeric character reference (platform/character_reference.h)
// is written through, so that the page shows the character a browser sent as one. It
// names one character, which no markup can be made of.
std::string EscapeHtmlKeepingReferences(std::string_view text);

}  // namespace web
