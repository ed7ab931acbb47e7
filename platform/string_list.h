// A list of text lines, as request fields, tag parameters and SQL statements are
// held. Name=value lines are looked up by name without regard to letter case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

using TStringList = std::vector<std::string>;

// The text after the first "=" of the first line whose text before its first "="
// equals name ignoring ASCII letter case; empty text when no line qualifies. Lines
// without "=" never match.
std::string FieldValue(const TStringList& lines, std::string_view name);

}  // namespace platform
