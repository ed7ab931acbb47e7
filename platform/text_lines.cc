#include "platform/text_lines.h"

#include <iterator>

#include "platform/file_system.h"
#include "platform/kept_files.h"

namespace platform {

TStringList SplitTextLines(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  TStringList lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
      ++end;
    start = end + 1;
  }
  return lines;
}

TStringList ReadTextLines(std::string_view path) {
  // A search reads its SQL file once for its own statement and once more for each
  // other count it runs, request after request.
  static TKeptFiles<TStringList> kept(16);
  return *kept.Value(path, [](std::string_view linesPath) {
    std::ifstream stream = OpenForReading(linesPath);
    const std::string text{std::istreambuf_iterator<char>(stream),
                           std::istreambuf_iterator<char>()};
    return SplitTextLines(text);
  });
}

}  // namespace platform
