// Fills the "%s" / "%d" holes of a message pattern with texts. The patterns are the
// program's Shift_JIS message texts, so the arguments are bytes and never reformatted.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace platform {

// Replaces each "%s" or "%d" in order by the next argument, each "%N:s" or "%N:d" by
// argument N (counted from 0), and "%%" by "%". Other bytes are copied unchanged.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace platform
