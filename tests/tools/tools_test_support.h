// Helpers of the catalogue tool tests: a private temporary folder, files in it, hex
// dumps, and running a tool as a child process.
#pragma once

#include <string>

namespace toolstest {

// A fresh folder, removed with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  // Writes bytes to a file of that name in the folder and answers its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

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
