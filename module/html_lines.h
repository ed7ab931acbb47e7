// Multi-line HTML built by the module is a list of lines, each followed by CR LF,
// the last one included.
#pragma once

#include <string>

#include "platform/string_list.h"

namespace module {

std::string JoinHtmlLines(const platform::TStringList& lines);

}  // namespace module
