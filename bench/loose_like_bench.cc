// The loose matching mode beside the folded one on the same texts, CPU time only: LIKE
// over the titles of a generated catalogue (what a scan or the rows an index leaves
// cost) and the grams of those titles (what building the index costs).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "db/sqlite/search_index_format.h"
#include "matching/sjis_like.h"
#include "tools/synthetic_catalogue.h"
#include "tools/text_encoding.h"

namespace {

using db::MatchMode;
using tools::CatalogRecord;
using tools::SyntheticCatalogue;
using tools::Utf8ToShiftJis;

// 100,000 titles and readings of the generated catalogue, in Shift_JIS.
const std::vector<std::string>& Titles() {
  static const std::vector<std::string> titles = [] {
    std::vector<std::string> texts;
    SyntheticCatalogue catalogue(1, 1000001);
    for (int i = 0; i < 50000; ++i) {
      const CatalogRecord book = catalogue.Next();
      texts.push_back(Utf8ToShiftJis(book.title));
      texts.push_back(Utf8ToShiftJis(book.titleKana));
    }
    return texts;
  }();
  return titles;
}

void Like(benchmark::State& state, MatchMode mode, const std::string& pattern) {
  const std::vector<std::string>& titles = Titles();
  const matching::SjisLikePattern folded(pattern, mode);
  std::int64_t found = 0;
  for (auto _ : state) {
    for (const std::string& title : titles) found += folded.Matches(title);
  }
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(titles.size()));
}

void Grams(benchmark::State& state, MatchMode mode) {
  const std::vector<std::string>& titles = Titles();
  std::vector<std::int64_t> keys;
  for (auto _ : state) {
    for (const std::string& title : titles) {
      keys.clear();
      db::searchindex::AppendTextGrams(title, keys, mode);
    }
  }
  benchmark::DoNotOptimize(keys);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(titles.size()));
}

const std::string kDiagram = "%\x90\x7d\x89\xf0%";  // %図解%
const std::string kCat = "%\x82\xcb\x82\xb1%";      // %ねこ%

}  // namespace

BENCHMARK_CAPTURE(Like, folded_kanji, MatchMode::kFolded, kDiagram)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Like, loose_kanji, MatchMode::kLoose, kDiagram)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Like, folded_kana, MatchMode::kFolded, kCat)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Like, loose_kana, MatchMode::kLoose, kCat)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Grams, folded, MatchMode::kFolded)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Grams, loose, MatchMode::kLoose)->Unit(benchmark::kMillisecond);
