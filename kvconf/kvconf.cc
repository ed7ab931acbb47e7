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

// The values of a file's lines by key, the first line of a key winning. Blank lines,
// comment and section lines and lines without "=" hold none.
using Values = std::map<std::string, std::string, std::less<>>;

bool IsIgnoredLine(std::string_view line) {
  return line.empty() || line.front() == '#' || line.front() == ';' || line.front() == '[';
}

// Every key of the content with its value: read once a state of the file, so that each
// ask is one look-up rather than a walk over the lines.
Values ValuesOf(std::string_view content) {
  Values values;
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
    if (equals == std::string_view::npos) continue;
    values.try_emplace(std::string(line.substr(0, equals)), line.substr(equals + 1));
  }
  return values;
}

// A file's values kept with the state it was read in.
struct KeptFile {
  FileState state;
  Values values;
};

// A file changed within this many seconds of being read is not kept: the file system's
// clock may be too coarse (a tick of some ms, on some systems two seconds) to give a
// second change in the same tick a new time, and the size may stay the same.
constexpr time_t kSettledSeconds = 2;

// At most this many files are kept, so that a caller asking many paths cannot grow the
// process: past it, every kept file is dropped.
constexpr std::size_t kMostKeptFiles = 16;

// The file's values: as kept when the file's state is the one it was read in, read
// anew otherwise. A process that answers request after request asks the same settings
// file for each key of each request, so what did not change costs one stat and one
// look-up. Null when the file cannot be opened or read, as ReadWholeFile.
const Values* FileValues(const char* path) {
  thread_local std::map<std::string, KeptFile, std::less<>> kept;
  thread_local Values uncached;
  struct stat status {};
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) {
    if (auto found = kept.find(std::string_view(path)); found != kept.end()) kept.erase(found);
    std::optional<std::string> content = ReadWholeFile(path);
    if (!content) return nullptr;
    uncached = ValuesOf(*content);
    return &uncached;
  }
  const FileState state{status.st_dev, status.st_ino, status.st_size, status.st_mtim,
                        status.st_ctim};
  if (auto found = kept.find(std::string_view(path)); found != kept.end()) {
    if (found->second.state == state) return &found->second.values;
    kept.erase(found);
  }
  std::optional<std::string> content = ReadWholeFile(path);
  if (!content) return nullptr;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const bool settled = status.st_mtim.tv_sec + kSettledSeconds < now.tv_sec &&
                       status.st_ctim.tv_sec + kSettledSeconds < now.tv_sec;
  if (!settled) {
    uncached = ValuesOf(*content);
    return &uncached;
  }
  if (kept.size() >= kMostKeptFiles) kept.clear();
  return &kept.insert_or_assign(path, KeptFile{state, ValuesOf(*content)}).first->second.values;
}

}  // namespace
}  // namespace kvconf

extern "C" const char* _GetConfValue(const char* path, const char* key) {
  // The answer points into the values of this thread, which change only when it asks
  // again: the caller copies it at once.
  if (path == nullptr || key == nullptr) return nullptr;
  const kvconf::Values* values = kvconf::FileValues(path);
  if (values == nullptr) return nullptr;
  const auto found = values->find(std::string_view(key));
  if (found == values->end()) return nullptr;
  return found->second.c_str();
}
