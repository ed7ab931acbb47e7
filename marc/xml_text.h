// UTF-8 text written into XML: the five characters XML reserves as references, and the
// characters XML 1.0 cannot hold at all (control characters other than tab, line feed
// and carriage return) as U+FFFD, so that a stray byte in a catalogue cannot make a
// document ill-formed.
#pragma once

#include <string>
#include <string_view>

namespace marc {

// The text as XML character data or attribute value.
std::string XmlText(std::string_view utf8);

}  // namespace marc
