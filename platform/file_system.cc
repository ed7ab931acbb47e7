#include "platform/file_system.h"

#include <sys/stat.h>

#include "platform/exception.h"
#include "platform/japanese_texts.h"
#include "platform/sjis.h"
#include "platform/text_format.h"

namespace platform {

std::string NativePath(std::string_view path) {
  std::string native;
  native.reserve(path.size());
  for (std::size_t i = 0; i < path.size();) {
    std::size_t length = CharLength(path, i);
    if (length == 1 && path[i] == '\\') {
      native.push_back('/');
    } else {
      native.append(path.substr(i, length));
    }
    i += length;
  }
  return native;
}

namespace {

bool StatMode(std::string_view path, mode_t kind) {
  struct stat info;
  return stat(NativePath(path).c_str(), &info) == 0 && (info.st_mode & S_IFMT) == kind;
}

}  // namespace

bool FileExists(std::string_view path) { return StatMode(path, S_IFREG); }

bool DirectoryExists(std::string_view path) { return StatMode(path, S_IFDIR); }

std::ifstream OpenForReading(std::string_view path) {
  std::ifstream stream;
  if (!DirectoryExists(path)) stream.open(NativePath(path), std::ios::in | std::ios::binary);
  if (!stream.is_open()) throw EFOpenError(FormatText(texts::kCannotOpenFile, {path}));
  return stream;
}

}  // namespace platform
