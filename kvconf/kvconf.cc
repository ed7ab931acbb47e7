#include "kvconf/kvconf.h"

#include <cstdio>
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
  std::optional<std::string> content = kvconf::ReadWholeFile(path);
  if (!content) return nullptr;
  std::optional<std::string_view> value = kvconf::FindValue(*content, key);
  if (!value) return nullptr;
  answer.assign(*value);
  return answer.c_str();
}
