#include "module/html_lines.h"

namespace module {

using platform::TStringList;

std::string JoinHtmlLines(const TStringList& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace module
