#include "tests/support/current_dir_guard.h"

namespace test_support {

CurrentDirGuard::CurrentDirGuard(const std::string& folder)
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(folder);
}

CurrentDirGuard::~CurrentDirGuard() { std::filesystem::current_path(previous_); }

}  // namespace test_support
