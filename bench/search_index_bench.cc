// Whole search requests with and without the search index, side by side in one run:
// two installations that differ only in their catalogue file (one indexed), each query
// kind run alternately on both, so that both see the same load of the machine. Prints
// one Markdown table row per kind: median and 95th percentile in ms, the child's peak
// memory, and whether the two responses are the same bytes (the search time masked).
//
// Usage: search_index_bench [--realistic] SCAN_SITE INDEX_SITE RUNS [SCAN_KINDS [ONLY]]
// --realistic runs the kinds of a realistic catalogue (every sort choice among them).
// SCAN_KINDS limits the scan to the first kinds (at 10,000,000 books a scan takes
// seconds); the other kinds are then run on the index alone, their responses not
// compared. ONLY, when given, runs only the kinds whose name holds that text.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "bench/cgi_child.h"

namespace {

struct QueryKind {
  const char* name;
  const char* pathInfo;
  std::string query;
};

// Percent-encodes Shift_JIS bytes for a query string.
std::string Encoded(const std::string& bytes) {
  std::string text;
  char hex[4];
  for (unsigned char c : bytes) {
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    text += hex;
  }
  return text;
}

const std::string kKey = "\x8c\xae";                      // 鍵: one title in fifty
const std::string kNo = "\x82\xcc";                       // の: most titles
const std::string kWorld = "\x90\xa2\x8a\x45";            // 世界: one in seventy
const std::string kDiagram = "\x90\x7d\x89\xf0";          // 図解: one in twenty
const std::string kCompass = "\x97\x85\x90\x6a\x94\xd5";  // 羅針盤: one in fifty
const std::string kIntro = "\x93\xfc\x96\xe5";            // 入門: one in twenty
const std::string kSato = "\x8d\xb2\x93\xa1";             // 佐藤: one author in twenty-five

std::vector<QueryKind> Kinds() {
  auto title = [](const std::string& word) { return "PAGENUM=0&BOOKNAME=" + Encoded(word); };
  return {
      // Start-up and the detail page: the floor under every search on this machine.
      {"top page (no database)", "", ""},
      {"detail page", "/data", "ID=1000500&RENT=0&BNAME=x++"},
      {"1 char, selective", "/list", title(kKey)},
      {"1 char, broad", "/list", title(kNo)},
      {"1 char, broad, page 50", "/list", "PAGENUM=50&BOOKNAME=" + Encoded(kNo)},
      {"1 char, broad, sorted", "/list", title(kNo) + "&ORDER=MS_SYOKANA&ORDERKIND=DESC"},
      {"2 chars, selective", "/list", title(kWorld)},
      {"2 chars, broad", "/list", title(kDiagram)},
      {"3 chars (long word)", "/list", title(kCompass)},
      {"two conditions", "/list", title(kIntro) + "&CHOSYA=" + Encoded(kSato)},
      {"sorted ASC", "/list", title(kDiagram) + "&ORDER=MS_SYOKANA&ORDERKIND=ASC"},
      {"sorted DESC", "/list", title(kDiagram) + "&ORDER=MS_SYOKANA&ORDERKIND=DESC"},
      {"sorted DESC, page 50", "/list",
       "PAGENUM=50&BOOKNAME=" + Encoded(kDiagram) + "&ORDER=MS_SYOKANA&ORDERKIND=DESC"},
      {"page 50", "/list", "PAGENUM=50&BOOKNAME=" + Encoded(kDiagram)},
      {"no hit", "/list", title("zzzzqqqq")},
  };
}

// For a realistic catalogue (catalog_generator --realistic): every sort choice of the
// example site, ASC and DESC, pages 0 and 50, of a word most titles hold and of one few
// hold; words of three characters, few and many; two conditions.
std::vector<QueryKind> RealisticKinds() {
  static const std::string kNoWord = "\x82\xcc";                 // の: 42 in 100 titles
  static const std::string kNightTrip = "\x96\xe9\x97\xb7";      // 夜旅: 1,500 in 1,000,000
  static const std::string kLoveSky = "\x88\xa4\x93\x56\x82\xcc";  // 愛天の: 220
  static const std::string kRecord = "\x82\xcc\x8b\x4c\x98\x5e";   // の記録: 22 in 100
  static const std::string kLove = "\x97\xf6";                   // 恋: 8 in 100
  static const std::string kSato = "\x8d\xb2\x93\xa1";           // 佐藤: 28 authors in 100
  // The names must outlive the kinds: kept in a static list.
  static std::vector<std::string> names;
  names.clear();
  // The floor under every request, and the broad word unsorted.
  std::vector<std::pair<std::string, std::string>> queries = {
      {"top page (no database)", ""}, {"broad, unsorted", "PAGENUM=0&BOOKNAME=" + Encoded(kNoWord)}};
  for (const char* column : {"MS_SYOKANA", "MS_CHOKANA", "MS_SEIKYU"}) {
    for (const char* kind : {"ASC", "DESC"}) {
      for (const char* page : {"0", "50"}) {
        for (bool broad : {true, false}) {
          queries.emplace_back(std::string("sorted ") + column + " " + kind + ", page " + page +
                                   (broad ? ", broad" : ", selective"),
                               std::string("PAGENUM=") + page + "&BOOKNAME=" +
                                   Encoded(broad ? kNoWord : kNightTrip) + "&ORDER=" + column +
                                   "&ORDERKIND=" + kind);
        }
      }
    }
  }
  queries.emplace_back("3 chars, selective", "PAGENUM=0&BOOKNAME=" + Encoded(kLoveSky));
  queries.emplace_back("3 chars, broad", "PAGENUM=0&BOOKNAME=" + Encoded(kRecord));
  queries.emplace_back("two conditions",
                       "PAGENUM=0&BOOKNAME=" + Encoded(kLove) + "&CHOSYA=" + Encoded(kSato));
  std::vector<QueryKind> kinds;
  names.reserve(queries.size());
  for (const auto& [name, query] : queries) {
    names.push_back(name);
    kinds.push_back({names.back().c_str(), query.empty() ? "" : "/list", query});
  }
  return kinds;
}

double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  const std::size_t at =
      static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

// The response with every "<number> 秒" (the search time) cut to "秒", and with it the
// Content-Length line.
std::string Masked(std::string response) {
  const std::size_t length = response.find("Content-Length: ");
  if (length != std::string::npos) response.erase(length, response.find('\n', length) - length);
  const std::string kSecond = "\x95\x62";
  for (std::size_t at = response.find(kSecond); at != std::string::npos;
       at = response.find(kSecond, at + 1)) {
    std::size_t start = at;
    if (start > 0 && response[start - 1] == ' ') --start;
    while (start > 0 && (std::isdigit(static_cast<unsigned char>(response[start - 1])) ||
                         response[start - 1] == '.')) {
      --start;
    }
    response.erase(start, at - start);
    at = start;
  }
  return response;
}

}  // namespace

int main(int argc, char** argv) {
  const bool realistic = argc > 1 && std::string(argv[1]) == "--realistic";
  if (realistic) {
    --argc;
    ++argv;
  }
  if (argc < 4 || argc > 6) {
    std::cerr << "usage: search_index_bench [--realistic] SCAN_SITE INDEX_SITE RUNS [SCAN_KINDS "
                 "[ONLY]]\n";
    return 2;
  }
  const std::string scanSite = argv[1], indexSite = argv[2];
  const int runs = std::max(1, std::atoi(argv[3]));
  const std::size_t scanKinds = argc >= 5 ? std::strtoul(argv[4], nullptr, 10) : SIZE_MAX;
  const std::string only = argc == 6 ? argv[5] : "";
  std::cout
      << "| query | scan median | scan p95 | index median | index p95 | peak KiB scan / index "
         "| same response |\n|---|---:|---:|---:|---:|---:|---|\n";
  try {
    const std::vector<QueryKind> kinds = realistic ? RealisticKinds() : Kinds();
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      const QueryKind& kind = kinds[k];
      if (std::string(kind.name).find(only) == std::string::npos) continue;
      const bool scanned = k < scanKinds;
      const CgiChildRun indexFirst = RunCgiRequest(indexSite, kind.pathInfo, kind.query, true);
      const char* same = "not compared";
      if (scanned) {
        const CgiChildRun scanFirst = RunCgiRequest(scanSite, kind.pathInfo, kind.query, true);
        same = Masked(scanFirst.output) == Masked(indexFirst.output) ? "yes" : "NO";
      }
      std::vector<double> scanMs, indexMs;
      long scanPeak = 0, indexPeak = 0;
      for (int i = 0; i < runs; ++i) {
        for (bool indexed : {false, true}) {
          if (!indexed && !scanned) continue;
          const auto start = std::chrono::steady_clock::now();
          const CgiChildRun run =
              RunCgiRequest(indexed ? indexSite : scanSite, kind.pathInfo, kind.query);
          const double ms =
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count();
          (indexed ? indexMs : scanMs).push_back(ms);
          long& peak = indexed ? indexPeak : scanPeak;
          peak = std::max(peak, run.peakKib);
        }
      }
      char row[320];
      if (scanned) {
        std::snprintf(row, sizeof row, "| %s | %.1f | %.1f | %.1f | %.1f | %ld / %ld | %s |\n",
                      kind.name, Percentile(scanMs, 0.5), Percentile(scanMs, 0.95),
                      Percentile(indexMs, 0.5), Percentile(indexMs, 0.95), scanPeak, indexPeak,
                      same);
      } else {
        std::snprintf(row, sizeof row, "| %s | - | - | %.1f | %.1f | - / %ld | %s |\n", kind.name,
                      Percentile(indexMs, 0.5), Percentile(indexMs, 0.95), indexPeak, same);
      }
      std::cout << row << std::flush;
    }
  } catch (const std::exception& e) {
    std::cerr << "search_index_bench: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
