// Multi-line HTML built by the module is a list of lines, each followed by CR LF,
// the last one included.
#pragma once

#include <string>

#include "platform/string_list.h"

std::string JoinHtmlLines(const TStringList& lines);
