// Takes fuzzed statements apart as the search index does before it narrows one: any
// text either is refused or gives back its conditions as written, and a search statement
// built from fuzzed search texts is always recognised with one condition a given text.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "db/sqlite/search_index_format.h"
#include "db/sqlite/search_narrowing.h"
#include "module/search_statement.h"
#include "tests/fuzz/fuzz_check.h"

using namespace module;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  db::searchindex::IndexInfo info;
  info.table = "BOOKMAST";
  info.columns = {"MS_SYOMEI", "MS_SYOKANA", "MS_CHOSYA", "MS_CHOKANA",
                  "MS_SYUPAN", "MS_ISBN",    "MS_KENMEI"};
  info.unsafeSortColumns = {"MS_BOOKID"};

  const std::string raw = input.ConsumeRandomLengthString(256);
  if (auto shape = db::searchindex::ParseSearchStatement(raw, info)) {
    fuzz::Check(raw.find(shape->conditionsText) != std::string::npos,
                "the conditions are taken from the statement as written");
  }

  SearchCriteria criteria;
  criteria.SearchFlags = input.ConsumeIntegral<std::uint8_t>() & 31;
  criteria.AuthorOnly = input.ConsumeBool();
  int texts = 0;
  for (std::string* text :
       {&criteria.BookName, &criteria.Chosya, &criteria.Syupan, &criteria.Isbn, &criteria.Kenmei}) {
    *text = input.ConsumeRandomLengthString(32);
    db::searchindex::RequiredGramKeys(*text, db::MatchMode::kExact);
    db::searchindex::PatternIsOneGram(*text, db::MatchMode::kFolded);
  }
  for (int bit = 0; bit < 5; ++bit) texts += (criteria.SearchFlags >> bit) & 1;
  std::string sql;
  for (const std::string& line : BuildSearchStatement(
           {"SELECT * FROM BOOKMAST", "LEFT OUTER JOIN KASIDASI ON KA_BOOKID = MS_BOOKID"},
           criteria)) {
    sql += line + "\r\n";
  }
  if (texts == 0) return 0;
  auto shape = db::searchindex::ParseSearchStatement(sql, info);
  fuzz::Check(shape.has_value(), "a built search statement is recognised");
  fuzz::Check(static_cast<int>(shape->conditions.size()) == texts, "one condition a text");
  return 0;
}
