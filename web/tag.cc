#include "web/tag.h"

#include <utility>

#include "platform/text_compare.h"

namespace web {

using platform::SameTextIgnoringCase;

namespace {

constexpr std::pair<std::string_view, TTag> kReservedNames[] = {
    {"EMBED", TTag::Embed}, {"OBJECT", TTag::Object}, {"IMAGEMAP", TTag::ImageMap},
    {"TABLE", TTag::Table}, {"IMAGE", TTag::Image},   {"LINK", TTag::Link},
};

}  // namespace

TTag TagKind(std::string_view name) {
  for (const auto& [reserved, kind] : kReservedNames) {
    if (SameTextIgnoringCase(name, reserved)) return kind;
  }
  return TTag::Custom;
}

}  // namespace web
