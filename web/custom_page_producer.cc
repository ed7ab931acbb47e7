#include "web/custom_page_producer.h"

#include <sstream>
#include <streambuf>

#include "platform/file_system.h"
#include "platform/trim.h"
#include "web/copy_parser.h"
#include "web/field_list.h"

namespace web {

using platform::TrimmedBy;
using platform::TStringList;

namespace {

// Reads a text in place, so that a template given as text is not copied again.
class TextReader : public std::streambuf {
 public:
  explicit TextReader(std::string_view text) {
    char* start = const_cast<char*>(text.data());
    setg(start, start, start + text.size());
  }
};

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
    std::ifstream file = platform::OpenForReading(HTMLFile_);
    return ProduceFromStream(file);
  }
  std::string text;
  for (const std::string& line : HTMLDoc_) (text += line) += "\r\n";
  return ProduceFromText(text);
}

std::string TCustomPageProducer::ProduceFromText(std::string_view text) {
  TextReader reader(text);
  std::istream stream(&reader);
  return ProduceFromStream(stream);
}

std::string TCustomPageProducer::ProduceFromStream(std::istream& stream) {
  std::ostringstream page;
  // A write that fails (memory exhausted) raises instead of leaving a page cut short.
  page.exceptions(std::ios::badbit);
  TCopyParser parser(stream, &page);
  for (;;) {
    // Text outside tags, blanks included, is copied as it stands.
    while (parser.Token() != '<' && parser.Token() != TCopyParser::EndToken) {
      parser.EmitToken();
      parser.AdvanceToken(true);
    }
    if (parser.Token() == TCopyParser::EndToken) break;
    parser.AdvanceToken(false);
    if (parser.Token() == '#') {
      parser.AdvanceToken(false);
      const std::string tagString = parser.TokenText();
      TStringList tagParams;
      SplitFieldList(" ", " ", TrimmedBy(parser.CollectUntil('>'), IsTagBlank), tagParams, StripParamQuotes);
      page << ResolveTag(tagString, tagParams);
      // Drops the ">" and copies the blanks after it.
      parser.AdvanceToken(true);
    } else {
      // No tag: the "<" stays, the blanks after it are lost and the token after it is
      // copied with it, so "<<#" starts no tag.
      page.put('<');
      parser.EmitToken();
      parser.AdvanceToken(true);
    }
  }
  return std::move(page).str();
}

std::string TCustomPageProducer::ResolveTag(const std::string& tagString, const TStringList&) {
  return "<#" + tagString + ">";
}

}  // namespace web
