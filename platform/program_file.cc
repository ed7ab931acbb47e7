#include "platform/program_file.h"

#include <unistd.h>

#include <climits>

namespace platform {

std::string ProgramPath() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

std::string ProgramFileName() {
  std::string path = ProgramPath();
  return path.substr(path.rfind('/') + 1);
}

std::string ProgramFolder() {
  std::string path = ProgramPath();
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace platform
