// The one place where the program's paths meet the operating system. Paths keep the
// backslash as folder separator everywhere else ("Conf\liraweb.conf"); here each
// backslash becomes "/". The path is walked as Shift_JIS, because the trail byte of a
// double-byte character may be 0x5C and must stay as it is.
#pragma once

#include <fstream>
#include <string>
#include <string_view>

namespace platform {

// The path as the operating system wants it.
std::string NativePath(std::string_view path);

// True when a regular file of that name exists.
bool FileExists(std::string_view path);

// True when a directory of that name exists.
bool DirectoryExists(std::string_view path);

// Opens the file for binary reading. Raises EFOpenError "ファイル <path> は開けません".
std::ifstream OpenForReading(std::string_view path);

}  // namespace platform
