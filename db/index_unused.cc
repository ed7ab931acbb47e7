// The words for why a search index was not used, shared by catalog_index check and the
// program's log.
#include "db/driver.h"

namespace db {

std::string_view IndexUnusedText(IndexUnused reason) {
  switch (reason) {
    case IndexUnused::kNone:
      return "in use";
    case IndexUnused::kNoIndex:
      return "no search index";
    case IndexUnused::kHalfBuilt:
      return "half built: a build is running or stopped before it ended";
    case IndexUnused::kOtherFormat:
      return "written in a format this program does not read";
    case IndexUnused::kSchemaChanged:
      return "not current: the schema changed since the build";
    case IndexUnused::kTooManyPending:
      return "not current: more rows written since the last refresh than its pending limit";
    case IndexUnused::kDamaged:
      return "damaged: its description or a posting list cannot be read";
    case IndexUnused::kOtherMode:
      return "built for another MATCH than the alias's";
    case IndexUnused::kOlderFolding:
      return "built with an older loose folding";
    case IndexUnused::kNotNarrowable:
      return "the statement is not one the index narrows";
  }
  return "unknown";
}

}  // namespace db
