#include "tools/argument_list.h"

#include "tools/catalog_error.h"

namespace tools {

std::string ArgumentList::Value() {
  if (index_ + 1 >= argc_) throw ECatalogError(current_ + " needs a value");
  return argv_[++index_];
}

}  // namespace tools
