#include "web/custom_page_producer.h"

#include <istream>
#include <memory>

#include "web/copy_parser.h"
#include "web/field_list.h"
#include "web/kept_templates.h"

namespace web {

using platform::TStringList;

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
    // Held while it expands: a tag may expand another template meanwhile.
    const std::shared_ptr<const TScannedTemplate> scanned = ScannedTemplateFile(HTMLFile_);
    return ProduceFromScanned(*scanned);
  }
  std::string text;
  for (const std::string& line : HTMLDoc_) (text += line) += "\r\n";
  return ProduceFromText(text);
}

std::string TCustomPageProducer::ProduceFromText(std::string_view text) {
  return ProduceFromScanned(TScannedTemplate::ScanText(text));
}

std::string TCustomPageProducer::ProduceFromStream(std::istream& stream) {
  return ProduceFromScanned(TScannedTemplate::Scan(TCopyParser::StreamSource(stream)));
}

std::string TCustomPageProducer::ProduceFromScanned(const TScannedTemplate& scanned) {
  // The page grows in one string: a write that fails (memory exhausted) raises
  // std::bad_alloc instead of leaving a page cut short.
  std::string page;
  for (const TScannedTemplate::TTagPiece& tag : scanned.Tags()) {
    page += tag.TextBefore;
    TStringList tagParams;
    SplitFieldList(" ", " ", tag.ParamText, tagParams, StripParamQuotes);
    page += ResolveTag(tag.TagString, tagParams);
  }
  if (scanned.ScanError()) throw EParserError(*scanned.ScanError());
  page += scanned.TextAfter();
  return page;
}

std::string TCustomPageProducer::ResolveTag(const std::string& tagString, const TStringList&) {
  return "<#" + tagString + ">";
}

}  // namespace web
