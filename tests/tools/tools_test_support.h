// Helpers of the catalogue tool tests: checked file reads, hex dumps, and running a
// tool as a shell command line.
#pragma once

#include <string>

namespace toolstest {

// Answers the bytes of a file; fails the test when it cannot be read.
std::string ReadFile(const std::string& path);

// Answers the bytes as upper-case hexadecimal, two digits a byte.
std::string Hex(const std::string& bytes);

struct ToolRun {
  int exitCode;
  std::string output;  // stdout and stderr together
};

// Runs a shell command line and answers its exit code and output.
ToolRun RunTool(const std::string& commandLine);

// The sample catalogue and the SQL files of the example installation.
std::string SourcePath(const std::string& relative);

}  // namespace toolstest
