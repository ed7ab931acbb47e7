#include "kvconf/kvconf.h"

#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kvconf {
namespace {

// The whole file, or nothing when it cannot be opened or read (a directory included).
std::optional<std::string> ReadWholeFile(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return std::nullopt;
  std::string content;
  char buffer[4096];
  std::size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, count);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return std::nullopt;
  return content;
}

// What tells one state of a file from another: a file put in its place (device and
// inode), rewritten (size, modification time) or given other permissions (change time).
struct FileState {
  dev_t device;
  ino_t inode;
  off_t size;
  timespec modified;
  timespec changed;
  bool operator==(const FileState& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

// A file's content kept with the state it was read in.
struct KeptFile {
  FileState state;
  std::string content;
};

// A file changed within this many seconds of being read is not kept: the file system's
// clock may be too coarse (a tick of some ms, on some systems two seconds) to give a
// second change in the same tick a new time, and the size may stay the same.
constexpr time_t kSettledSeconds = 2;

// At most this many files are kept, so that a caller asking many paths cannot grow the
// process: past it, every kept file is dropped.
constexpr std::size_t kMostKeptFiles = 16;

// The file's content: as kept when the file's state is the one it was read in, read
// anew otherwise. A process that answers request after request asks the same settings
// file for each key of each request, so what did not change costs one stat. Nothing
// when the file cannot be opened or read, as ReadWholeFile.
std::optional<std::string_view> FileContent(const char* path) {
  thread_local std::map<std::string, KeptFile> kept;
  thread_local std::string uncached;
  struct stat status {};
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) {
    kept.erase(path);
    std::optional<std::string> content = ReadWholeFile(path);
    if (!content) return std::nullopt;
    uncached = std::move(*content);
    return uncached;
  }
  const FileState state{status.st_dev, status.st_ino, status.st_size, status.st_mtim,
                        status.st_ctim};
  if (auto found = kept.find(path); found != kept.end()) {
    if (found->second.state == state) return found->second.content;
    kept.erase(found);
  }
  std::optional<std::string> content = ReadWholeFile(path);
  if (!content) return std::nullopt;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const bool settled = status.st_mtim.tv_sec + kSettledSeconds < now.tv_sec &&
                       status.st_ctim.tv_sec + kSettledSeconds < now.tv_sec;
  if (!settled) {
    uncached = std::move(*content);
    return uncached;
  }
  if (kept.size() >= kMostKeptFiles) kept.clear();
  return kept.insert_or_assign(path, KeptFile{state, std::move(*content)}).first->second.content;
}

bool IsIgnoredLine(std::string_view line) {
  return line.empty() || line.front() == '#' || line.front() == ';' || line.front() == '[';
}

// The value of the first line holding key, or nothing.
std::optional<std::string_view> FindValue(std::string_view content, std::string_view key) {
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    std::size_t next = end == std::string_view::npos ? content.size() : end + 1;
    std::string_view line = content.substr(start, next - start);
    // Strip the line end: LF, or CR LF. A CR elsewhere belongs to the value.
    if (!line.empty() && line.back() == '\n') {
      line.remove_suffix(1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    }
    start = next;
    if (IsIgnoredLine(line)) continue;
    std::size_t equals = line.find('=');
    if (equals != std::string_view::npos && line.substr(0, equals) == key)
      return line.substr(equals + 1);
  }
  return std::nullopt;
}

}  // namespace
}  // namespace kvconf

extern "C" const char* _GetConfValue(const char* path, const char* key) {
  // The caller copies the answer at once; one buffer per thread keeps it valid until
  // that thread asks again.
  thread_local std::string answer;
  if (path == nullptr || key == nullptr) return nullptr;
  std::optional<std::string_view> content = kvconf::FileContent(path);
  if (!content) return nullptr;
  std::optional<std::string_view> value = kvconf::FindValue(*content, key);
  if (!value) return nullptr;
  answer.assign(*value);
  return answer.c_str();
}
