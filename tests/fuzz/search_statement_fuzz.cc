// Builds the search statement from fuzzed search texts and derives its parameters as
// the query does: whatever a visitor types stays inside its literal, so the statement
// never gains a parameter and reaches the engine byte for byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "db/param_derivation.h"
#include "module/search_statement.h"
#include "tests/fuzz/fuzz_check.h"

using namespace db;
using namespace module;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  SearchCriteria criteria;
  criteria.SearchFlags = input.ConsumeIntegral<std::uint8_t>() & 31;
  criteria.AuthorOnly = input.ConsumeBool();
  for (std::string* text :
       {&criteria.BookName, &criteria.Chosya, &criteria.Syupan, &criteria.Isbn, &criteria.Kenmei}) {
    *text = input.ConsumeRandomLengthString(64);
  }

  std::string sql;
  for (const std::string& line : BuildSearchStatement({"SELECT * FROM BOOKS"}, criteria)) {
    sql += line + "\r\n";
  }
  const TDerivedSql derived = DeriveParams(sql);
  fuzz::Check(derived.ParamNames.empty(), "a search text makes no parameter");
  fuzz::Check(derived.EngineText == sql, "the statement reaches the engine unchanged");
  return 0;
}
