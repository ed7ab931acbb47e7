// glibc's iconv as the tests' second opinion on a character set conversion, which the
// program itself never runs.
#pragma once

#include <optional>
#include <string>

namespace test_support {

// The text converted from one character set to another (iconv names: "CP932",
// "UTF-8", "UTF-32LE"), or nullopt where iconv refuses any of it.
std::optional<std::string> IconvText(const char* to, const char* from, std::string text);

}  // namespace test_support
