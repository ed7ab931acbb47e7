#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/exception.h"
#include "platform/japanese_texts.h"
#include "platform/sjis.h"
#include "platform/text_format.h"

namespace platform {

std::string NativePath(std::string_view path) {
  // Most paths hold no backslash byte at all, not even as a trail byte: nothing to walk.
  if (path.find('\\') == std::string_view::npos) return std::string(path);
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

bool TFileState::operator==(const TFileState& other) const {
  return Device == other.Device && Inode == other.Inode && Size == other.Size &&
         Modified.tv_sec == other.Modified.tv_sec && Modified.tv_nsec == other.Modified.tv_nsec &&
         Changed.tv_sec == other.Changed.tv_sec && Changed.tv_nsec == other.Changed.tv_nsec;
}

bool TFileState::Settled() const {
  constexpr time_t kSettledSeconds = 2;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return Modified.tv_sec + kSettledSeconds < now.tv_sec &&
         Changed.tv_sec + kSettledSeconds < now.tv_sec;
}

std::optional<TFileState> RegularFileState(std::string_view path) {
  struct stat info;
  if (stat(NativePath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return TFileState{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

std::ifstream OpenForReading(std::string_view path) {
  std::ifstream stream;
  if (!DirectoryExists(path)) stream.open(NativePath(path), std::ios::in | std::ios::binary);
  if (!stream.is_open()) throw EFOpenError(FormatText(texts::kCannotOpenFile, {path}));
  return stream;
}

TFileReader::TFileReader(std::string_view path) : Descriptor_(-1) {
  if (!DirectoryExists(path)) Descriptor_ = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (Descriptor_ < 0) throw EFOpenError(FormatText(texts::kCannotOpenFile, {path}));
}

TFileReader::~TFileReader() { close(Descriptor_); }

std::size_t TFileReader::Read(char* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = read(Descriptor_, bytes + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace platform
