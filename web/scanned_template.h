// A template scanned once into the stretches of text it copies and the tags between
// them, so that it can be expanded many times without being scanned again: the rows of
// a result list, and the pages of a process that serves request after request.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/copy_parser.h"

namespace web {

class TScannedTemplate {
 public:
  // One tag and the text copied before it.
  struct TTagPiece {
    std::string TextBefore;
    std::string TagString;
    std::string ParamText;  // the bytes between the name and ">", blanks around them trimmed
  };

  // Scans what source gives to its end. A line too long for the scanner's window does
  // not raise here: the template keeps the tags before it and the message, so that an
  // expansion fails exactly where a scan of the bytes as it went would have failed.
  static TScannedTemplate Scan(TCopyParser::TByteSource source);

  // Scans text.
  static TScannedTemplate ScanText(std::string_view text);

  // The tags in the order they stand, each with the text before it.
  const std::vector<TTagPiece>& Tags() const { return Tags_; }

  // The text after the last tag; empty when the scan failed.
  const std::string& TextAfter() const { return TextAfter_; }

  // The EParserError message of a scan that could not go on past the last tag kept.
  const std::optional<std::string>& ScanError() const { return ScanError_; }

 private:
  std::vector<TTagPiece> Tags_;
  std::string TextAfter_;
  std::optional<std::string> ScanError_;
};

}  // namespace web
