// Expanding a large generated template: bytes per second, and the heap needed at the
// worst moment. The scanner alone needs the same heap for any template size, since it
// streams the file through its window; the producer needs the page it returns besides.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <streambuf>

#include "bench/heap_meter.h"
#include "platform/file_system.h"
#include "web/copy_parser.h"
#include "web/page_producer.h"

using namespace platform;
using namespace web;

namespace {

// Generated templates, one file per size, removed when the benchmark ends.
class TemplateFiles {
 public:
  ~TemplateFiles() {
    for (const auto& [size, path] : Paths_) std::filesystem::remove(path);
  }

  // A file of about size bytes: table rows of Shift_JIS text, each with one tag.
  const std::string& Get(std::size_t size) {
    auto found = Paths_.find(size);
    if (found != Paths_.end()) return found->second;
    const std::string path =
        (std::filesystem::temp_directory_path() /
         ("page_producer_bench_" + std::to_string(getpid()) + "_" + std::to_string(size) + ".html"))
            .string();
    std::ofstream file(path, std::ios::binary);
    const std::string row =
        "<tr><td class=\"title\">\x88\xC9\x93\xA1 \x8F\x91\x96\xBC</td>"
        "<td><#FIND_VALUE kind=\"row\" n=1></td></tr>\r\n";
    for (std::size_t written = 0; written < size; written += row.size()) file << row;
    return Paths_.emplace(size, path).first->second;
  }

 private:
  std::map<std::size_t, std::string> Paths_;
};

TemplateFiles templates;

void ReportMemory(benchmark::State& state, std::size_t size, std::size_t peakBytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["template_KiB"] = static_cast<double>(size) / 1024;
  state.counters["peak_heap_KiB"] = static_cast<double>(peakBytes) / 1024;
  state.counters["maxrss_KiB"] = static_cast<double>(heap_meter::MaxResidentKiB());
}

void BM_ScanTemplate(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::string& path = templates.Get(size);
  std::size_t peakBytes = 0;
  for (auto _ : state) {
    heap_meter::ResetPeak();
    std::ifstream input = platform::OpenForReading(path);
    // No output, so that only the scanner's own memory is measured.
    TCopyParser parser(input, nullptr);
    while (parser.Token() != TCopyParser::EndToken) {
      parser.EmitToken();
      parser.AdvanceToken(true);
    }
    peakBytes = std::max(peakBytes, heap_meter::PeakBytes());
  }
  ReportMemory(state, size, peakBytes);
}

void BM_ProduceContent(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  TPageProducer producer;
  producer.SetHTMLFile(templates.Get(size));
  producer.OnHTMLTag = [](TPageProducer&, TTag, const std::string&, const TStringList&,
                          std::string& replaceText) { replaceText = "1500  "; };
  std::size_t peakBytes = 0;
  std::size_t pageBytes = 0;
  for (auto _ : state) {
    heap_meter::ResetPeak();
    const std::string page = producer.ProduceContent();
    pageBytes = page.size();
    peakBytes = std::max(peakBytes, heap_meter::PeakBytes());
  }
  ReportMemory(state, size, peakBytes);
  state.counters["page_KiB"] = static_cast<double>(pageBytes) / 1024;
}

BENCHMARK(BM_ScanTemplate)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProduceContent)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
