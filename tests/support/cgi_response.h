// The whole CGI responses the program writes, built the way a test expects them, so
// that every test compares against the same header block.
#pragma once

#include <string>
#include <string_view>

namespace test_support {

// A page answered with 200: the header block, then the page.
std::string Page(std::string_view content);

// The fixed 500 response for an exception escaping to the program; statusText is the
// message as the status line carries it (control characters made blanks).
std::string ServerError(std::string_view className, std::string_view statusText,
                        std::string_view message);

}  // namespace test_support
