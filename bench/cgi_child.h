// One whole CGI request to an installed program, run as a web server runs it: a new
// process in the cgi-bin folder with the variables of a GET request.
#pragma once

#include <string>

struct CgiChildRun {
  std::string output;  // the response, when asked for
  long peakKib = 0;    // the child's peak resident memory
  long cpuMicros = 0;  // the child's processor time, user and system, in µs
};

// Runs <site>/cgi-bin/liraweb, or programPath when given, in <site>/cgi-bin. Throws
// std::runtime_error when it cannot start or fails.
CgiChildRun RunCgiRequest(const std::string& site, const std::string& pathInfo,
                          const std::string& query, bool keepOutput = false,
                          const std::string& programPath = "");
