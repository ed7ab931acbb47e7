// Expands an HTML template: the template is copied byte for byte, and every tag
// "<#" name [parameters] ">" is replaced by what ResolveTag answers for it. The
// template comes from a file (HTMLFile) or, when no file is set, from lines held in
// memory (HTMLDoc).
#pragma once

#include <istream>
#include <string>
#include <string_view>

#include "platform/string_list.h"
#include "web/content_producer.h"
#include "web/copy_parser.h"
#include "web/scanned_template.h"

namespace web {

class TCustomPageProducer : public TCustomContentProducer {
 public:
  // The template file's path ("\" separates folders); empty when HTMLDoc is used.
  const std::string& HTMLFile() const { return HTMLFile_; }

  // Stores path as the template file and empties HTMLDoc, unless path is the file
  // already set.
  void SetHTMLFile(std::string_view path);

  // The template lines used when HTMLFile is empty.
  const platform::TStringList& HTMLDoc() const { return HTMLDoc_; }

  // Copies lines as the template and empties HTMLFile.
  void SetHTMLDoc(const platform::TStringList& lines);

  // Whether the quotes around a tag parameter's value are removed (true unless set
  // otherwise); quotes inside a value are always kept.
  bool StripParamQuotes = true;

  // Expands HTMLFile (scanned as ScannedTemplateFile keeps it), or the lines of HTMLDoc
  // each followed by CR LF when no file is set; neither goes through ProduceFromStream.
  // Raises EFOpenError when the file cannot be opened, and whatever the expansion raises.
  std::string ProduceContent() override;

  // Expands the template read from stream. Raises EParserError for a line too long,
  // EConvertError for a malformed "%" escape in tag parameters, and whatever
  // ResolveTag raises; no partial page is returned.
  std::string ProduceFromStream(std::istream& stream) override;

  // Expands the template text, failing as ProduceFromStream does.
  std::string ProduceFromText(std::string_view text) override;

  // Expands a template scanned before, failing as ProduceFromStream does: the tags
  // before a line too long are answered, then EParserError is raised.
  std::string ProduceFromScanned(const TScannedTemplate& scanned);

  // The replacement of one tag: here the tag written again as "<#" name ">", without
  // its parameters.
  virtual std::string ResolveTag(const std::string& tagString,
                                 const platform::TStringList& tagParams);

 private:
  std::string HTMLFile_;
  platform::TStringList HTMLDoc_;
};

}  // namespace web
