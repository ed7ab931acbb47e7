// Writing bytes to a file descriptor exactly as they are, for the CGI response and
// for the messages written when a request could not be served.
#pragma once

#include <string_view>

// Writes every byte of text to fd, continuing after short or interrupted writes;
// true when all were written.
bool WriteAll(int fd, std::string_view text);
