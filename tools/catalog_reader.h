// Reads a catalogue file line by line: skips comments and blank lines, checks the header,
// brings each line into Shift_JIS and parses it into a record. Errors name file and line.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "tools/catalog_record.h"
#include "tools/record_source.h"
#include "tools/text_encoding.h"

namespace tools {

class CatalogReader : public RecordSource {
 public:
  // Opens the file and settles its encoding (detected from its first 64 KiB when kAuto).
  // Raises ECatalogError when the file cannot be opened.
  CatalogReader(std::string path, FileEncoding encoding);

  // Reads the next book into record (kBook), or answers kEnd at the end of the file.
  // Raises ECatalogError "path:line: problem" for a bad line or a wrong header; the next
  // call goes on with the line after it.
  Kind Next(CatalogRecord& record) override;
  std::string Where() const override { return path_ + ":" + std::to_string(lineNumber_); }

  // The number of the line last read, counted from 1.
  int LineNumber() const { return lineNumber_; }
  // Bytes of the file consumed so far, and its size, for progress reports.
  std::uint64_t BytesRead() const override { return bytesRead_; }
  std::uint64_t FileSize() const { return fileSize_; }
  FileEncoding Encoding() const { return encoding_; }

 private:
  [[noreturn]] void Fail(const std::string& problem) const;

  std::string path_;
  std::ifstream input_;
  FileEncoding encoding_;
  std::unique_ptr<TextConverter> converter_;
  bool headerSeen_ = false;
  int lineNumber_ = 0;
  std::uint64_t bytesRead_ = 0;
  std::uint64_t fileSize_ = 0;
};

}  // namespace tools
