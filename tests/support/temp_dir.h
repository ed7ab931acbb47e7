// A fresh folder for one test, removed with everything in it when the test is done, so
// that tests never share files and leave nothing behind.
#pragma once

#include <string>
#include <string_view>

namespace test_support {

class TempDir {
 public:
  // Creates /tmp/<prefix>XXXXXX. Throws std::runtime_error when it cannot.
  explicit TempDir(std::string_view prefix = "liraweb_test_");
  // Removes the folder and everything below it.
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's absolute path, without a trailing "/".
  const std::string& Path() const { return path_; }
  // Path() + "/" + relative.
  std::string operator/(std::string_view relative) const;

 private:
  std::string path_;
};

}  // namespace test_support
