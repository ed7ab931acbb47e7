// The kinds of template tag. A few tag names are reserved for links, images, tables,
// image maps, objects and embedded content; every other name is a custom tag, which is
// what the program's own templates use.
#pragma once

#include <string_view>

namespace web {

enum class TTag {
  Custom = 0,
  Link = 1,
  Image = 2,
  Table = 3,
  ImageMap = 4,
  Object = 5,
  Embed = 6,
};

// The kind of the tag called name: LINK, IMAGE, TABLE, IMAGEMAP, OBJECT or EMBED in any
// ASCII letter case give their own kind, every other name Custom.
TTag TagKind(std::string_view name);

}  // namespace web
