#include "web/custom_page_producer.h"

#include <algorithm>
#include <cstring>
#include <istream>

#include "platform/file_system.h"
#include "platform/trim.h"
#include "web/copy_parser.h"
#include "web/field_list.h"

namespace web {

using platform::TrimmedBy;
using platform::TStringList;

namespace {

// Blanks around the parameters of a tag: bytes 1 to 32.
bool IsTagBlank(unsigned char c) { return c >= 1 && c <= 32; }

}  // namespace

void TCustomPageProducer::SetHTMLFile(std::string_view path) {
  // Compared byte for byte: on a case-sensitive file system two spellings that differ
  // only in letter case name two files.
  if (path == HTMLFile_) return;
  HTMLDoc_.clear();
  HTMLFile_ = path;
}

void TCustomPageProducer::SetHTMLDoc(const TStringList& lines) {
  HTMLDoc_ = lines;
  HTMLFile_.clear();
}

std::string TCustomPageProducer::ProduceContent() {
  if (!HTMLFile_.empty()) {
    platform::TFileReader file(HTMLFile_);
    return Expand([&file](char* bytes, std::size_t count) { return file.Read(bytes, count); });
  }
  std::string text;
  for (const std::string& line : HTMLDoc_) (text += line) += "\r\n";
  return ProduceFromText(text);
}

std::string TCustomPageProducer::ProduceFromText(std::string_view text) {
  // Read in place, so that a template given as text is not copied again.
  return Expand([&text](char* bytes, std::size_t count) {
    const std::size_t taken = std::min(count, text.size());
    std::memcpy(bytes, text.data(), taken);
    text.remove_prefix(taken);
    return taken;
  });
}

std::string TCustomPageProducer::ProduceFromStream(std::istream& stream) {
  return Expand(TCopyParser::StreamSource(stream));
}

std::string TCustomPageProducer::Expand(TCopyParser::TByteSource source) {
  // The page grows in one string: a write that fails (memory exhausted) raises
  // std::bad_alloc instead of leaving a page cut short.
  std::string page;
  TCopyParser parser(std::move(source), &page);
  for (;;) {
    // Text outside tags, blanks included, is copied as it stands.
    parser.CopyUntil('<');
    if (parser.Token() == TCopyParser::EndToken) break;
    parser.AdvanceToken(false);
    if (parser.Token() == '#') {
      parser.AdvanceToken(false);
      const std::string tagString = parser.TokenText();
      TStringList tagParams;
      SplitFieldList(" ", " ", TrimmedBy(parser.CollectUntil('>'), IsTagBlank), tagParams, StripParamQuotes);
      page += ResolveTag(tagString, tagParams);
      // Drops the ">" and copies the blanks after it.
      parser.AdvanceToken(true);
    } else {
      // No tag: the "<" stays, the blanks after it are lost and the token after it is
      // copied with it, so "<<#" starts no tag.
      page += '<';
      parser.EmitToken();
      parser.AdvanceToken(true);
    }
  }
  return page;
}

std::string TCustomPageProducer::ResolveTag(const std::string& tagString, const TStringList&) {
  return "<#" + tagString + ">";
}

}  // namespace web
