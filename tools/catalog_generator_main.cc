// catalog_generator: writes a deterministic synthetic catalogue of any size in the
// catalogue file format, for benchmarks and load tests.
#include <fstream>
#include <iostream>
#include <string>

#include "tools/argument_list.h"
#include "tools/catalog_error.h"
#include "tools/synthetic_catalogue.h"

using tools::ArgumentList;
using tools::ECatalogError;
using tools::FileEncoding;
using tools::ParseEncodingName;
using tools::WriteSyntheticCatalogue;

namespace {

constexpr const char* kUsage =
    "usage: catalog_generator --count N [--seed S] [--first-id N] [--encoding utf-8|sjis]\n"
    "                         [--output FILE] [--realistic]\n"
    "  --count N       number of books\n"
    "  --seed S        seed of the generator (default 1); the same seed gives the same file\n"
    "  --first-id N    book_id of the first book (default 1000001), the rest follow it\n"
    "  --encoding      character set of the file (default utf-8)\n"
    "  --output FILE   write to FILE instead of standard output\n"
    "  --realistic     mostly distinct titles with a long tail of words, subtitles, series\n"
    "                  volumes and editions, authors with many books and with one\n";

std::uint64_t ParseNumber(const std::string& option, const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18)
    throw ECatalogError(option + " needs a whole number, not '" + text + "'");
  return std::stoull(text);
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t count = 0, seed = 1, firstId = 1000001;
  bool countGiven = false, realistic = false;
  FileEncoding encoding = FileEncoding::kUtf8;
  std::string output;
  try {
    ArgumentList arguments(argc, argv);
    while (arguments.Next()) {
      const std::string& arg = arguments.Current();
      if (arg == "--count") {
        count = ParseNumber(arg, arguments.Value());
        countGiven = true;
      } else if (arg == "--seed") {
        seed = ParseNumber(arg, arguments.Value());
      } else if (arg == "--first-id") {
        firstId = ParseNumber(arg, arguments.Value());
      } else if (arg == "--encoding") {
        encoding = ParseEncodingName(arguments.Value());
        if (encoding == FileEncoding::kAuto) throw ECatalogError("--encoding is utf-8 or sjis");
      } else if (arg == "--realistic") {
        realistic = true;
      } else if (arg == "--output") {
        output = arguments.Value();
      } else if (arg == "-h" || arg == "--help") {
        std::cout << kUsage;
        return 0;
      } else {
        throw ECatalogError("unknown argument " + arg);
      }
    }
    if (!countGiven) throw ECatalogError("--count is required");
  } catch (const ECatalogError& e) {
    std::cerr << "catalog_generator: " << e.Message() << "\n" << kUsage;
    return 2;
  }

  std::ofstream file;
  if (!output.empty()) {
    file.open(output, std::ios::binary);
    if (!file) {
      std::cerr << "catalog_generator: " << output << ": cannot create the file\n";
      return 1;
    }
  }
  std::ostream& out = output.empty() ? std::cout : file;
  WriteSyntheticCatalogue(out, count, seed, firstId, encoding, realistic);
  out.flush();
  if (!out) {
    std::cerr << "catalog_generator: writing failed\n";
    return 1;
  }
  return 0;
}
