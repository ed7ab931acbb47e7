#include "web/tag.h"

#include <algorithm>
#include <utility>

namespace {

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr std::pair<std::string_view, TTag> kReservedNames[] = {
    {"EMBED", TTag::Embed}, {"OBJECT", TTag::Object}, {"IMAGEMAP", TTag::ImageMap},
    {"TABLE", TTag::Table}, {"IMAGE", TTag::Image},   {"LINK", TTag::Link},
};

}  // namespace

TTag TagKind(std::string_view name) {
  for (const auto& [reserved, kind] : kReservedNames) {
    if (std::ranges::equal(name, reserved, {}, AsciiUpper)) return kind;
  }
  return TTag::Custom;
}
