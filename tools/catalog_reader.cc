#include "tools/catalog_reader.h"

#include <filesystem>

#include "tools/catalog_error.h"

namespace tools {

CatalogReader::CatalogReader(std::string path, FileEncoding encoding)
    : path_(std::move(path)), input_(path_, std::ios::binary), encoding_(encoding) {
  if (!input_) throw ECatalogError(path_ + ": cannot open the file");
  std::error_code ignored;
  fileSize_ = std::filesystem::file_size(path_, ignored);
  if (encoding_ == FileEncoding::kAuto) {
    std::string sample(64 * 1024, '\0');
    input_.read(sample.data(), static_cast<std::streamsize>(sample.size()));
    sample.resize(static_cast<std::size_t>(input_.gcount()));
    input_.clear();
    input_.seekg(0);
    encoding_ = DetectEncoding(sample);
  }
  // Shift_JIS lines are converted to UTF-8 only to prove that every character is valid.
  converter_ = encoding_ == FileEncoding::kUtf8 ? std::make_unique<TextConverter>("CP932", "UTF-8")
                                                : std::make_unique<TextConverter>("UTF-8", "CP932");
}

void CatalogReader::Fail(const std::string& problem) const {
  throw ECatalogError(path_ + ":" + std::to_string(lineNumber_) + ": " + problem);
}

RecordSource::Kind CatalogReader::Next(CatalogRecord& record) {
  std::string line;
  while (std::getline(input_, line)) {
    ++lineNumber_;
    bytesRead_ += line.size() + 1;
    if (lineNumber_ == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!headerSeen_) {
      // The header is checked first so that a file of another layout fails on its
      // header line, not on every line after it.
      headerSeen_ = true;
      if (line != HeaderLine())
        Fail("the header line must name the columns " + HeaderLine() +
             " (tab-separated, in this order)");
      continue;
    }
    std::string text;
    try {
      text = converter_->Convert(line);
    } catch (const ECatalogError& e) {
      Fail(e.Message() +
           (encoding_ == FileEncoding::kUtf8 ? " (read as UTF-8" : " (read as Shift_JIS") +
           "; --encoding chooses)");
    }
    if (encoding_ == FileEncoding::kShiftJis) text = std::move(line);
    try {
      record = ParseRecord(text);
    } catch (const ECatalogError& e) {
      Fail(e.Message());
    }
    return Kind::kBook;
  }
  if (!headerSeen_) {
    headerSeen_ = true;
    Fail("the file has no header line");
  }
  return Kind::kEnd;
}

}  // namespace tools
