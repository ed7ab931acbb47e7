// Text files read as lists of lines: the SQL files of the installation.
#pragma once

#include <string>
#include <string_view>

#include "platform/string_list.h"

namespace platform {

// Splits text into lines at CR, LF or CR LF; the text ends at its first NUL byte. A
// line break at the very end adds no empty line.
TStringList SplitTextLines(std::string_view text);

// The lines of the file; a process serving many requests keeps them while the file is
// unchanged (platform/kept_files.h). Raises EFOpenError "ファイル <path> は開けません".
TStringList ReadTextLines(std::string_view path);

}  // namespace platform
