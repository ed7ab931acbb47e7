// Whole requests to the installed program, one new process each, as a web server
// runs it: the top page (no database), a search over the catalogue, a late result
// page and a detail page. Reports wall time per request and the child's peak memory.
//
// Run through bench/cgi_request_bench.sh, which installs a synthetic catalogue and
// passes the installation folder in LIRAWEB_BENCH_SITE.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "bench/cgi_child.h"

namespace {

void Request(benchmark::State& state, const char* pathInfo, const char* query,
             const std::string& program = "") {
  const char* site = std::getenv("LIRAWEB_BENCH_SITE");
  if (!site) {
    state.SkipWithError("LIRAWEB_BENCH_SITE is not set; run bench/cgi_request_bench.sh");
    return;
  }
  long peak = 0;
  for (auto _ : state)
    peak = std::max(peak, RunCgiRequest(site, pathInfo, query, false, program).peakKib);
  state.counters["peak_rss_KiB"] = static_cast<double>(peak);
}

// The baseline of start-up cost: a trivial C program beside this benchmark, started
// the same way.
void TrivialProgram(benchmark::State& state) {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string folder(self, length > 0 ? static_cast<std::size_t>(length) : 0);
  Request(state, "", "", folder.substr(0, folder.rfind('/') + 1) + "trivial_cgi");
}
BENCHMARK(TrivialProgram)->Unit(benchmark::kMillisecond)->UseRealTime();

// Query strings in Shift_JIS: 図解 (a title word in about one book of twenty).
BENCHMARK_CAPTURE(Request, top_page, "", "")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Request, search_title, "/list", "PAGENUM=0&BOOKNAME=%90%7D%89%F0")
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Request, search_sorted, "/list",
                  "PAGENUM=0&BOOKNAME=%90%7D%89%F0&ORDER=MS_SYOKANA&ORDERKIND=DESC")
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Request, search_page_50, "/list", "PAGENUM=50&BOOKNAME=%90%7D%89%F0")
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Request, search_no_hit, "/list", "PAGENUM=0&BOOKNAME=zzzzqqqq")
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Request, detail_page, "/data", "ID=1000500&RENT=0&BNAME=x++")
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// An older build of the program beside the current one (LIRAWEB_BENCH_OTHER_PROGRAM,
// a path), run the same way in the same folder, for before-and-after figures from one
// run (with --benchmark_enable_random_interleaving the two alternate).
void OtherProgram(benchmark::State& state, const char* pathInfo, const char* query) {
  const char* other = std::getenv("LIRAWEB_BENCH_OTHER_PROGRAM");
  if (!other) {
    state.SkipWithError("LIRAWEB_BENCH_OTHER_PROGRAM is not set");
    return;
  }
  Request(state, pathInfo, query, other);
}
BENCHMARK_CAPTURE(OtherProgram, top_page, "", "")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(OtherProgram, detail_page, "/data", "ID=1000500&RENT=0&BNAME=x++")
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
