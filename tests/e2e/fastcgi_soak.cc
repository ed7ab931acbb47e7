// Sends many mixed requests to one FastCGI process of an installed site: pages with
// books, searches finding nothing, a missing book, a refused sort order, a column the
// database does not know (its error), a malformed escape, a catalogue taken away and then put back
// as a new file. Every request of the first round, every one next to a change of the catalogue and
// a sample of the others is compared byte for byte with a CGI run of the same program (the search
// time shown on a page aside); the process's resident memory is printed after two rounds and at
// the end, and must not have grown past a small allowance.
//
// Usage: fastcgi_soak REQUESTS [SAMPLE_EVERY]   (LIRAWEB_INSTALL names the site)
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/fastcgi_client.h"

namespace {

using Variables = std::map<std::string, std::string>;

struct Kind {
  const char* name;
  std::string path;
  std::string query;
  std::string body;  // sent by POST when not empty
};

// The search words are Shift_JIS percent escapes: "no" (の), "neko" (猫).
const std::vector<Kind> kKinds = {
    {"top page", "", "", ""},
    {"search", "/list", "PAGENUM=0&BOOKNAME=%82%CC&ORDER=MS_SYOKANA&ORDERKIND=ASC", ""},
    {"search, page 2 descending", "/list",
     "PAGENUM=1&BOOKNAME=%82%CC&ORDER=MS_SYOKANA&ORDERKIND=DESC", ""},
    {"search finding nothing", "/list", "PAGENUM=0&BOOKNAME=qqqzzzqqq", ""},
    {"search by POST", "/list", "", "PAGENUM=0&BOOKNAME=%94L"},
    {"book", "/data", "ID=100003", ""},
    {"missing book", "/data", "ID=999999", ""},
    {"refused sort order", "/list", "PAGENUM=0&BOOKNAME=%82%CC&ORDER=1%3BDROP+TABLE&ORDERKIND=ASC",
     ""},
    {"database error", "/list", "PAGENUM=0&BOOKNAME=%82%CC&ORDER=NO_SUCH_COLUMN&ORDERKIND=ASC", ""},
    {"malformed escape", "/list", "PAGENUM=0&BOOKNAME=%ZZ", ""},
    {"opensearch", "/opensearch.xml", "", ""},
};

// The pages show how long the search took, which differs from run to run and with it
// the content length: each run of digits after class="time"> (up to the next tag) and
// after "Content-Length: " becomes one "#" before comparing.
std::string WithoutSearchTime(const std::string& page) {
  std::string masked;
  std::size_t from = 0;
  for (const std::string_view marker : {"Content-Length: ", "class=\"time\">"}) {
    for (std::size_t at = page.find(marker); at != std::string::npos;
         at = page.find(marker, at + 1)) {
      std::size_t i = at + marker.size();
      masked.append(page, from, i - from);
      for (bool inNumber = false; i < page.size() && page[i] != '<' && page[i] != '\r'; ++i) {
        const bool digit = (page[i] >= '0' && page[i] <= '9') || page[i] == '.';
        if (!digit) masked.push_back(page[i]);
        if (digit && !inNumber) masked.push_back('#');
        inNumber = digit;
      }
      from = i;
    }
  }
  return masked.append(page, from);
}

// Every request also carries a header of its own (a web server passes each header as a
// variable), so that a process that kept the variables of the requests before grows.
Variables VariablesOf(const Kind& kind, long number) {
  Variables variables = {{"HTTP_X_REQUEST", std::to_string(number) + std::string(200, '.')},
                         {"SERVER_PROTOCOL", "HTTP/1.1"},
                         {"REQUEST_METHOD", kind.body.empty() ? "GET" : "POST"},
                         {"SCRIPT_NAME", "/cgi-bin/liraweb"},
                         {"HTTP_HOST", "127.0.0.1"},
                         {"QUERY_STRING", kind.query}};
  if (!kind.path.empty()) variables["PATH_INFO"] = kind.path;
  if (!kind.body.empty()) {
    variables["CONTENT_LENGTH"] = std::to_string(kind.body.size());
    variables["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  }
  return variables;
}

}  // namespace

int main(int argc, char** argv) {
  const char* install = std::getenv("LIRAWEB_INSTALL");
  if (argc < 2 || !install) {
    std::fprintf(stderr, "usage: LIRAWEB_INSTALL=DIR fastcgi_soak REQUESTS [SAMPLE_EVERY]\n");
    return 2;
  }
  const long requests = std::atol(argv[1]);
  const long sampleEvery = argc > 2 ? std::atol(argv[2]) : 50;
  const std::string folder = std::string(install) + "/cgi-bin";
  const std::string program = folder + "/liraweb";
  const std::string catalogue = std::string(install) + "/data/catalog.db";

  // The process keeps the settings and templates only once their files are more than two
  // seconds old (a newer file is read again for every request): the first round must find
  // them as a running site has them, so that what it keeps is counted before the run.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  test_support::FastCGIProcess process(program, folder, {});
  const long kinds = static_cast<long>(kKinds.size());
  // A third of the way the catalogue is taken away, two thirds of the way it comes back
  // as another file (a new inode), as a replaced catalogue does.
  const long takeAway = requests / 3, putBack = 2 * requests / 3;
  long startKilobytes = -1, compared = 0, differing = 0, unanswered = 0;
  for (long i = 0; i < requests; ++i) {
    if (i == takeAway) std::rename(catalogue.c_str(), (catalogue + ".away").c_str());
    if (i == putBack) {
      test_support::ChildRun copy;
      copy.program = "/bin/cp";
      copy.arguments = {catalogue + ".away", catalogue + ".new"};
      test_support::RunChild(copy);
      std::rename((catalogue + ".new").c_str(), catalogue.c_str());
      std::remove((catalogue + ".away").c_str());
    }
    const Kind& kind = kKinds[static_cast<std::size_t>(i % kinds)];
    const Variables variables = VariablesOf(kind, i);
    const auto answer = process.Request(variables, kind.body);
    if (!answer.ended) ++unanswered;
    // Memory is read once every page kind is warm: after the second round, since a
    // connection's first request reads with a small page cache, as a CGI run does, and
    // the pages it read are cached only when the second round reads them again.
    if (i == 2 * kinds - 1) startKilobytes = process.ResidentKilobytes();
    const long sinceChange = std::min(std::labs(i - takeAway), std::labs(i - putBack));
    if (i < kinds || sinceChange < kinds || i % sampleEvery == 0) {
      test_support::ChildRun cgi;
      cgi.program = program;
      cgi.workingDirectory = folder;
      cgi.variables = variables;
      cgi.input = kind.body;
      ++compared;
      if (WithoutSearchTime(test_support::RunChild(cgi).output) !=
          WithoutSearchTime(answer.output)) {
        ++differing;
        std::fprintf(stderr, "request %ld (%s) differs from its CGI run\n", i, kind.name);
      }
    }
  }
  const long endKilobytes = process.ResidentKilobytes();
  std::printf(
      "%ld requests, %ld compared with CGI, %ld differing, %ld unanswered; VmRSS %ld kB after "
      "the second round, %ld kB at the end\n",
      requests, compared, differing, unanswered, startKilobytes, endKilobytes);
  // The allowance covers pages the allocator keeps, not growth with the request count.
  constexpr long kAllowanceKilobytes = 256;
  const bool flat = endKilobytes >= 0 && endKilobytes <= startKilobytes + kAllowanceKilobytes;
  if (!flat) std::fprintf(stderr, "resident memory grew\n");
  return differing == 0 && unanswered == 0 && flat ? 0 : 1;
}
