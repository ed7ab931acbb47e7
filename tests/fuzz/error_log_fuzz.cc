// Writes one error log entry with a fuzzed label, message and time, then reads the file
// back as comma-separated values: the record must give back its three fields unchanged.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "config/error_log.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using namespace config;

namespace {

std::tm entryTime;

std::tm EntryTime() { return entryTime; }

// One record of comma-separated fields ending in LF; a field in double quotes may hold
// commas, line ends and doubled quotes. Nothing when text does not hold exactly that.
std::optional<std::vector<std::string>> ReadRecord(std::string_view text) {
  std::vector<std::string> fields(1);
  std::size_t i = 0;
  for (;;) {
    if (i < text.size() && text[i] == '"') {
      for (++i;; ++i) {
        if (i == text.size()) return std::nullopt;
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            fields.back().push_back('"');
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          fields.back().push_back(text[i]);
        }
      }
    } else {
      while (i < text.size() && text[i] != ',' && text[i] != '\n') {
        if (text[i] == '"') return std::nullopt;
        fields.back().push_back(text[i++]);
      }
    }
    if (i == text.size()) return std::nullopt;
    if (text[i] == '\n') return i + 1 == text.size() ? std::optional(fields) : std::nullopt;
    if (text[i] != ',') return std::nullopt;
    fields.emplace_back();
    ++i;
  }
}

// "yyyy/MM/dd H:mm:ss", the date alone at midnight; strftime does it independently of
// the log's own formatting (years of four digits only: %Y does not pad).
std::string ExpectedDate(const std::tm& time) {
  const bool midnight = time.tm_hour == 0 && time.tm_min == 0 && time.tm_sec == 0;
  char text[64];
  std::strftime(text, sizeof text, midnight ? "%Y/%m/%d" : "%Y/%m/%d %-H:%M:%S", &time);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static test_support::TempDir folder("liraweb_fuzz_log_");
  static const std::string path = folder / "Error.txt";

  FuzzedDataProvider input(data, size);
  entryTime = std::tm{};
  entryTime.tm_year = input.ConsumeIntegralInRange(-900, 8099);
  entryTime.tm_mon = input.ConsumeIntegralInRange(0, 11);
  entryTime.tm_mday = input.ConsumeIntegralInRange(1, 31);
  entryTime.tm_hour = input.ConsumeIntegralInRange(0, 23);
  entryTime.tm_min = input.ConsumeIntegralInRange(0, 59);
  entryTime.tm_sec = input.ConsumeIntegralInRange(0, 60);
  const std::string label = input.ConsumeRandomLengthString(200);
  const std::string message = input.ConsumeRemainingBytesAsString();

  ::unlink(path.c_str());
  TErrorLog log(path, &EntryTime);
  log.WriteEntry(label, message);

  const std::string written = test_support::ReadWholeFile(path);
  fuzz::Check(written.starts_with(kErrorLogBanner), "the log starts with its banner");
  const auto fields = ReadRecord(std::string_view(written).substr(kErrorLogBanner.size()));
  fuzz::Check(fields.has_value(), "the entry reads back as one record");
  fuzz::Check(fields->size() == 3, "the record has three fields");
  fuzz::Check((*fields)[0] == ExpectedDate(entryTime), "the date reads back");
  fuzz::Check((*fields)[1] == label, "the label reads back");
  fuzz::Check((*fields)[2] == message, "the message reads back");
  return 0;
}
