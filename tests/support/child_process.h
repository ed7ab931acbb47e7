// Runs a program as a real child process the way a web server runs a CGI program: in a
// chosen working folder, with nothing of the test's environment but the variables
// given, the request body on standard input, and both output streams captured whole.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace test_support {

struct ChildRun {
  std::string program;                           // absolute path of the program file
  std::vector<std::string> arguments;            // after argv[0], which is the program
  std::string workingDirectory;                  // empty: the test's own
  std::map<std::string, std::string> variables;  // the child's whole environment
  std::string input;                             // bytes on standard input
  // Standard input is a pipe written while the child runs, as a web server passes a
  // body, instead of a file that holds the whole input from the start.
  bool inputThroughPipe = false;
  // Standard output is a pipe whose reading end is closed before the child starts, as
  // when the client has gone: every write fails, and SIGPIPE keeps its default action.
  bool outputClosed = false;
};

struct ChildResult {
  std::string output;  // standard output
  std::string errors;  // standard error
  int exitCode = -1;   // 128 + signal number when a signal ended the child
};

// Starts the child with posix_spawn and waits for it. Throws std::runtime_error when
// it cannot be started.
ChildResult RunChild(const ChildRun& run);

}  // namespace test_support
