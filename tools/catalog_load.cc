#include "tools/catalog_load.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unordered_map>

#include "tools/catalog_error.h"
#include "tools/catalog_reader.h"
#include "tools/marc_catalog_reader.h"
#include "tools/progress_meter.h"

namespace tools {

FileFormat ParseFormatName(std::string_view name) {
  if (name == "auto") return FileFormat::kAuto;
  if (name == "tsv") return FileFormat::kTsv;
  if (name == "marc") return FileFormat::kMarc;
  throw ECatalogError("unknown format '" + std::string(name) + "' (use auto, tsv or marc)");
}

FileFormat DetectFileFormat(const std::string& path) {
  std::ifstream input(path, std::ios::binary);
  if (!input) throw ECatalogError(path + ": cannot open the file");
  std::string head(64, '\0');
  input.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(input.gcount()));
  std::size_t first = head.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  if (first == std::string::npos) return FileFormat::kTsv;
  if (head[first] == '<') return FileFormat::kMarc;
  // A catalogue file begins with a comment or its header; five digits are a record length.
  std::size_t digits = 0;
  while (first + digits < head.size() && head[first + digits] >= '0' && head[first + digits] <= '9')
    ++digits;
  return digits >= 5 ? FileFormat::kMarc : FileFormat::kTsv;
}

namespace {

constexpr int kMaxReportedErrors = 50;

// Everything of one load that outlives a single file.
class Loading {
 public:
  Loading(CatalogStore& store, std::ostream& diagnostics, bool changes)
      : store_(store), diagnostics_(diagnostics), changes_(changes), locations_(store.Locations()) {
    for (const auto& [name, code] : locations_) nextCode_ = std::max(nextCode_, code + 1);
  }

  void LoadFile(RecordSource& source, bool withLoans, ProgressMeter& progress,
                std::uint64_t bytesBefore) {
    CatalogRecord record;
    for (;;) {
      try {
        RecordSource::Kind kind = source.Next(record);
        if (kind == RecordSource::Kind::kEnd) break;
        if (kind == RecordSource::Kind::kBook)
          Store(record, source.Where(), withLoans);
        else
          Remove(record.bookId, source.Where());
      } catch (const ECatalogError& e) {
        Report(e.Message());
        // Past a database failure the transaction is dead; the rest of the input is
        // still read so that every bad line is reported in one run.
      }
      progress.Update(bytesBefore + source.BytesRead(), counts_.books);
    }
  }

  // Removes the books whose keys a file lists, one a line (blank lines and lines that
  // begin with # left out).
  void RemoveListed(const std::string& path) {
    std::ifstream input(path, std::ios::binary);
    if (!input) throw ECatalogError(path + ": cannot open the file");
    std::string line;
    for (int number = 1; std::getline(input, line); ++number) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::size_t first = line.find_first_not_of(" \t");
      if (first == std::string::npos || line[first] == '#') continue;
      line = line.substr(first, line.find_last_not_of(" \t") - first + 1);
      const std::string where = path + ":" + std::to_string(number);
      try {
        // The key is checked as a catalogue line's key is.
        ParseRecord(line + "\tkey" + std::string(kCatalogColumns.size() - 2, '\t'));
        Remove(line, where);
      } catch (const ECatalogError& e) {
        Report(where + ": " + e.Message());
      }
    }
  }

  void AddReferences(std::uint64_t count) { counts_.references += count; }

  int Errors() const { return errors_; }
  const LoadCounts& Counts() const { return counts_; }

 private:
  void Store(const CatalogRecord& record, const std::string& where, bool withLoans) {
    // A change load takes the last record of a key; a full load has one record a key.
    if (!changes_) {
      auto [seen, isNew] = firstLine_.emplace(record.bookId, where);
      if (!isNew)
        throw ECatalogError(where + ": book_id " + record.bookId + " is already used on " +
                            seen->second);
    }
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
      if (!changes_)
        store_.AddBook(record, code);
      else if (store_.ReplaceBook(record, code, withLoans))
        ++counts_.replaced;
    } catch (const ECatalogError& e) {
      throw ECatalogError(where + ": " + e.Message());
    }
    ++counts_.books;
    if (!record.loanUser.empty()) ++counts_.loans;
  }

  void Remove(const std::string& bookId, const std::string& where) {
    if (!changes_) {
      ++counts_.deletedSkipped;
      return;
    }
    if (errors_ > 0) return;
    try {
      if (store_.RemoveBook(bookId))
        ++counts_.removed;
      else
        ++counts_.unknownRemovals;
    } catch (const ECatalogError& e) {
      throw ECatalogError(where + ": " + e.Message());
    }
  }

  void Report(const std::string& message) {
    if (++errors_ <= kMaxReportedErrors) diagnostics_ << message << '\n';
  }

  CatalogStore& store_;
  std::ostream& diagnostics_;
  const bool changes_;
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
    Loading loading(store, diagnostics, options.changes);
    // Keys to remove go first, so that a book removed and entered again the same day
    // ends as the record of the export.
    for (const std::string& list : options.deletionLists) loading.RemoveListed(list);
    std::uint64_t bytesBefore = 0;
    for (const std::string& file : options.files) {
      FileFormat format =
          options.format == FileFormat::kAuto ? DetectFileFormat(file) : options.format;
      if (format == FileFormat::kMarc) {
        MarcCatalogReader reader(file, *options.mapping, diagnostics);
        // A MARC record says nothing of loans: a replaced book keeps its loan row.
        loading.LoadFile(reader, false, progress, bytesBefore);
        loading.AddReferences(reader.References());
      } else {
        CatalogReader reader(file, options.encoding);
        loading.LoadFile(reader, true, progress, bytesBefore);
      }
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
