// Parses the input as a line of a catalogue file: a line that parses is written back and
// must read as the same record; the ISBN check and the encoding guess take any bytes.
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "tools/catalog_error.h"
#include "tools/catalog_record.h"
#include "tools/isbn.h"
#include "tools/text_encoding.h"

using namespace tools;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view line = fuzz::AsText(data, size);
  DetectEncoding(line);
  tools::Problem(line);
  try {
    const std::string written = FormatRecord(ParseRecord(line));
    fuzz::Check(FormatRecord(ParseRecord(written)) == written, "a written record reads back");
  } catch (const ECatalogError&) {
  }
  return 0;
}
