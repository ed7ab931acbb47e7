// Makes a folder the process's current directory for a test that reads and writes
// relative paths, as the program does, and puts the previous one back afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace test_support {

class CurrentDirGuard {
 public:
  // Changes into folder. Throws std::filesystem::filesystem_error when it cannot.
  explicit CurrentDirGuard(const std::string& folder);
  // Changes back into the directory that was current before.
  ~CurrentDirGuard();
  CurrentDirGuard(const CurrentDirGuard&) = delete;
  CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace test_support
