// Whole search requests with and without the search index, side by side in one run:
// two installations that differ only in their catalogue file (one indexed), each query
// kind run alternately on both, so that both see the same load of the machine. Prints
// one Markdown table row per kind: median and 95th percentile in ms, the median of the
// child's processor time (the steadier figure on a busy machine), the child's peak
// memory, and whether the two responses are the same bytes (the search time masked).
//
// Usage: search_index_bench [--realistic] SCAN_SITE INDEX_SITE RUNS [SCAN_KINDS [ONLY]]
// --realistic runs the kinds of a realistic catalogue (every sort choice among them).
// SCAN_KINDS limits the scan to the first kinds (at 10,000,000 books a scan takes
// seconds); the other kinds are then run on the index alone, their responses not
// compared. ONLY, when given, runs only the kinds whose name holds that text. With
// SEARCH_INDEX_BENCH_WORDS=realistic the kinds search words of the realistic catalogue.
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

// The words of each kind, one title in N holding each, for the synthetic books and for
// the realistic ones (catalog_generator --realistic), whose vocabulary differs.
struct KindWords {
  std::string oneSelective, oneBroad, twoSelective, twoBroad, three, title, author;
};

const KindWords kSyntheticWords = {
    "\x8c\xae",                  // 鍵: one title in fifty
    "\x82\xcc",                  // の: most titles
    "\x90\xa2\x8a\x45",          // 世界: one in seventy
    "\x90\x7d\x89\xf0",          // 図解: one in twenty
    "\x97\x85\x90\x6a\x94\xd5",  // 羅針盤: one in fifty
    "\x93\xfc\x96\xe5",          // 入門: one in twenty
    "\x8d\xb2\x93\xa1",          // 佐藤: one author in twenty-five
};

const KindWords kRealisticWords = {
    "\x8f\xe3",                  // 上: one title in thirty-five
    "\x82\xcc",                  // の: two titles in five
    "\x88\xa4\x89\xcc",          // 愛歌: one in sixty
    "\x8e\x52\x8e\x52",          // 山山: one in sixteen
    "\x90\x85\x90\x53\x8a\x58",  // 水心街: twenty titles
    "\x92\xa9\x95\x5c",          // 朝表: one in thirty
    "\x92\x86\x91\xba",          // 中村: one author in thirty
};

std::vector<QueryKind> Kinds(const KindWords& w) {
  auto title = [](const std::string& word) { return "PAGENUM=0&BOOKNAME=" + Encoded(word); };
  return {
      // Start-up and the detail page: the floor under every search on this machine.
      {"top page (no database)", "", ""},
      {"detail page", "/data", "ID=1000500&RENT=0&BNAME=x++"},
      {"1 char, selective", "/list", title(w.oneSelective)},
      {"1 char, broad", "/list", title(w.oneBroad)},
      {"1 char, broad, page 50", "/list", "PAGENUM=50&BOOKNAME=" + Encoded(w.oneBroad)},
      {"1 char, broad, sorted", "/list", title(w.oneBroad) + "&ORDER=MS_SYOKANA&ORDERKIND=DESC"},
      {"2 chars, selective", "/list", title(w.twoSelective)},
      {"2 chars, broad", "/list", title(w.twoBroad)},
      {"3 chars (long word)", "/list", title(w.three)},
      {"two conditions", "/list", title(w.title) + "&CHOSYA=" + Encoded(w.author)},
      {"sorted ASC", "/list", title(w.twoBroad) + "&ORDER=MS_SYOKANA&ORDERKIND=ASC"},
      {"sorted DESC", "/list", title(w.twoBroad) + "&ORDER=MS_SYOKANA&ORDERKIND=DESC"},
      {"sorted DESC, page 50", "/list",
       "PAGENUM=50&BOOKNAME=" + Encoded(w.twoBroad) + "&ORDER=MS_SYOKANA&ORDERKIND=DESC"},
      {"page 50", "/list", "PAGENUM=50&BOOKNAME=" + Encoded(w.twoBroad)},
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
  queries.emplace_back("3 chars, broad, sorted MS_SYOKANA DESC, page 50",
                       "PAGENUM=50&BOOKNAME=" + Encoded(kRecord) +
                           "&ORDER=MS_SYOKANA&ORDERKIND=DESC");
  // 山の記録, 1 in 100 titles; 朝表の記録, 3 in 1,000.
  static const std::string kMountainRecord = "\x8e\x52\x82\xcc\x8b\x4c\x98\x5e";
  static const std::string kMorningRecord = "\x92\xa9\x95\x5c\x82\xcc\x8b\x4c\x98\x5e";
  queries.emplace_back("4 chars", "PAGENUM=0&BOOKNAME=" + Encoded(kMountainRecord));
  queries.emplace_back("5 chars", "PAGENUM=0&BOOKNAME=" + Encoded(kMorningRecord));
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
      << "| query | scan median | scan p95 | index median | index p95 | processor time median "
         "scan / index | peak KiB scan / index | same response |\n"
         "|---|---:|---:|---:|---:|---:|---:|---|\n";
  try {
    const char* words = std::getenv("SEARCH_INDEX_BENCH_WORDS");
    const std::vector<QueryKind> kinds =
        realistic ? RealisticKinds()
                  : Kinds(words && std::string(words) == "realistic" ? kRealisticWords
                                                                   : kSyntheticWords);
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
      std::vector<double> scanMs, indexMs, scanCpuMs, indexCpuMs;
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
          (indexed ? indexCpuMs : scanCpuMs).push_back(static_cast<double>(run.cpuMicros) / 1000);
          long& peak = indexed ? indexPeak : scanPeak;
          peak = std::max(peak, run.peakKib);
        }
      }
      char row[320];
      if (scanned) {
        std::snprintf(
            row, sizeof row, "| %s | %.1f | %.1f | %.1f | %.1f | %.1f / %.1f | %ld / %ld | %s |\n",
            kind.name, Percentile(scanMs, 0.5), Percentile(scanMs, 0.95), Percentile(indexMs, 0.5),
            Percentile(indexMs, 0.95), Percentile(scanCpuMs, 0.5), Percentile(indexCpuMs, 0.5),
            scanPeak, indexPeak, same);
      } else {
        std::snprintf(row, sizeof row, "| %s | - | - | %.1f | %.1f | - / %.1f | - / %ld | %s |\n",
                      kind.name, Percentile(indexMs, 0.5), Percentile(indexMs, 0.95),
                      Percentile(indexCpuMs, 0.5), indexPeak, same);
      }
      std::cout << row << std::flush;
    }
  } catch (const std::exception& e) {
    std::cerr << "search_index_bench: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
