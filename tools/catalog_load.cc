#include "tools/catalog_load.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>

#include "tools/catalog_error.h"
#include "tools/catalog_reader.h"
#include "tools/progress_meter.h"

namespace tools {

namespace {

constexpr int kMaxReportedErrors = 50;

// Everything of one load that outlives a single file.
class Loading {
 public:
  Loading(CatalogStore& store, std::ostream& diagnostics)
      : store_(store), diagnostics_(diagnostics), locations_(store.Locations()) {
    for (const auto& [name, code] : locations_) nextCode_ = std::max(nextCode_, code + 1);
  }

  void LoadFile(const std::string& path, FileEncoding encoding, ProgressMeter& progress,
                std::uint64_t bytesBefore) {
    CatalogReader reader(path, encoding);
    CatalogRecord record;
    for (;;) {
      try {
        if (!reader.Next(record)) break;
        Store(record, path, reader.LineNumber());
      } catch (const ECatalogError& e) {
        Report(e.Message());
        // Past a database failure the transaction is dead; the rest of the input is
        // still read so that every bad line is reported in one run.
      }
      progress.Update(bytesBefore + reader.BytesRead(), counts_.books);
    }
  }

  int Errors() const { return errors_; }
  const LoadCounts& Counts() const { return counts_; }

 private:
  void Store(const CatalogRecord& record, const std::string& path, int line) {
    std::string where = path + ":" + std::to_string(line);
    auto [seen, isNew] = firstLine_.emplace(record.bookId, where);
    if (!isNew)
      throw ECatalogError(where + ": book_id " + record.bookId + " is already used on " +
                          seen->second);
    if (errors_ > 0) return;
    try {
      int code = 0;
      if (!record.location.empty()) {
        auto [slot, added] = locations_.emplace(record.location, nextCode_);
        if (added) {
          store_.AddLocation(nextCode_++, record.location);
          ++counts_.locations;
        }
        code = slot->second;
      }
      store_.AddBook(record, code);
    } catch (const ECatalogError& e) {
      throw ECatalogError(where + ": " + e.Message());
    }
    ++counts_.books;
    if (!record.loanUser.empty()) ++counts_.loans;
  }

  void Report(const std::string& message) {
    if (++errors_ <= kMaxReportedErrors) diagnostics_ << message << '\n';
  }

  CatalogStore& store_;
  std::ostream& diagnostics_;
  std::map<std::string, int> locations_;
  int nextCode_ = 1;
  std::unordered_map<std::string, std::string> firstLine_;  // book id -> "file:line"
  LoadCounts counts_;
  int errors_ = 0;
};

}  // namespace

LoadCounts LoadCatalogue(CatalogStore& store, const LoadOptions& options,
                         std::ostream& diagnostics) {
  std::uint64_t totalBytes = 0;
  for (const std::string& file : options.files) {
    std::error_code ignored;
    std::uintmax_t size = std::filesystem::file_size(file, ignored);
    if (!ignored) totalBytes += size;
  }
  ProgressMeter progress(diagnostics, options.progress, totalBytes);
  try {
    store.Begin();
    if (options.replace) store.Clear();
    Loading loading(store, diagnostics);
    std::uint64_t bytesBefore = 0;
    for (const std::string& file : options.files) {
      loading.LoadFile(file, options.encoding, progress, bytesBefore);
      std::error_code ignored;
      bytesBefore += std::filesystem::file_size(file, ignored);
    }
    progress.Finish(totalBytes, loading.Counts().books);
    if (loading.Errors() > 0) {
      if (loading.Errors() > kMaxReportedErrors)
        diagnostics << "... and " << loading.Errors() - kMaxReportedErrors << " more\n";
      throw ECatalogError(std::to_string(loading.Errors()) +
                          " bad records; nothing was loaded into " + store.Describe());
    }
    store.Commit();
    return loading.Counts();
  } catch (...) {
    store.Rollback();
    throw;
  }
}

}  // namespace tools
