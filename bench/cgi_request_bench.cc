// Whole requests to the installed program, one new process each, as a web server
// runs it: the top page (no database), a search over the catalogue, a late result
// page and a detail page. Reports wall time per request and the child's peak memory.
//
// Run through bench/cgi_request_bench.sh, which installs a synthetic catalogue and
// passes the installation folder in LIRAWEB_BENCH_SITE.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct ChildUsage {
  long peakKib = 0;
};

// Runs a program (cgi-bin/liraweb unless given) in the site's cgi-bin folder with the
// CGI variables of a GET request and throws away its output.
ChildUsage RunRequest(const std::string& site, const std::string& pathInfo,
                      const std::string& query, const std::string& programPath = "") {
  const std::string cgiBin = site + "/cgi-bin";
  std::vector<std::string> variables = {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=GET",
                                        "HTTP_HOST=127.0.0.1", "SCRIPT_NAME=/cgi-bin/liraweb",
                                        "PATH_INFO=" + pathInfo, "QUERY_STRING=" + query};
  std::vector<char*> envp;
  for (std::string& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, cgiBin.c_str());
  const std::string program = programPath.empty() ? cgiBin + "/liraweb" : programPath;
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t child;
  int failed = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed) throw std::runtime_error("cannot start " + program);
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("request failed");
  return ChildUsage{usage.ru_maxrss};
}

void Request(benchmark::State& state, const char* pathInfo, const char* query,
             const std::string& program = "") {
  const char* site = std::getenv("LIRAWEB_BENCH_SITE");
  if (!site) {
    state.SkipWithError("LIRAWEB_BENCH_SITE is not set; run bench/cgi_request_bench.sh");
    return;
  }
  long peak = 0;
  for (auto _ : state) peak = std::max(peak, RunRequest(site, pathInfo, query, program).peakKib);
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
BENCHMARK(TrivialProgram)->Unit(benchmark::kMillisecond);

// Query strings in Shift_JIS: 図解 (a title word in about one book of twenty).
BENCHMARK_CAPTURE(Request, top_page, "", "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Request, search_title, "/list", "PAGENUM=0&BOOKNAME=%90%7D%89%F0")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Request, search_sorted, "/list",
                  "PAGENUM=0&BOOKNAME=%90%7D%89%F0&ORDER=MS_SYOKANA&ORDERKIND=DESC")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Request, search_page_50, "/list", "PAGENUM=50&BOOKNAME=%90%7D%89%F0")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Request, search_no_hit, "/list", "PAGENUM=0&BOOKNAME=zzzzqqqq")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Request, detail_page, "/data", "ID=1000500&RENT=0&BNAME=x++")
    ->Unit(benchmark::kMillisecond);

}  // namespace
