// Writing bytes to a file descriptor exactly as they are: the CGI response, the
// messages written when a request could not be served, and the error log's records.
#pragma once

#include <string_view>

namespace platform {

// Writes every byte of text to fd, continuing after short or interrupted writes;
// true when all were written, false at the first failed write or one that wrote
// nothing (a file that cannot grow), which would otherwise be retried for ever.
bool WriteAll(int fd, std::string_view text);

}  // namespace platform
