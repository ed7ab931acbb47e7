#include "tools/argument_list.h"

#include "tools/catalog_error.h"

namespace tools {

std::string ArgumentList::Value() {
  if (index_ + 1 >= argc_) throw ECatalogError(current_ + " needs a value");
  return argv_[++index_];
}

db::MatchMode MatchModeArgument(const std::string& name) {
  if (name == "folded") return db::MatchMode::kFolded;
  if (name == "loose") return db::MatchMode::kLoose;
  throw ECatalogError("--match is folded or loose, not " + name);
}

}  // namespace tools
