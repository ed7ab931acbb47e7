#include "web/scanned_template.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/trim.h"

namespace web {

namespace {

// Blanks around the parameters of a tag: bytes 1 to 32.
bool IsTagBlank(unsigned char c) { return c >= 1 && c <= 32; }

}  // namespace

TScannedTemplate TScannedTemplate::Scan(TCopyParser::TByteSource source) {
  TScannedTemplate scanned;
  // The parser appends what it copies here; each tag takes the text gathered before it.
  std::string text;
  try {
    TCopyParser parser(std::move(source), &text);
    for (;;) {
      // Text outside tags, blanks included, is copied as it stands.
      parser.CopyUntil('<');
      if (parser.Token() == TCopyParser::EndToken) break;
      parser.AdvanceToken(false);
      if (parser.Token() == '#') {
        parser.AdvanceToken(false);
        std::string tagString = parser.TokenText();
        std::string paramText{platform::TrimmedBy(parser.CollectUntil('>'), IsTagBlank)};
        scanned.Tags_.push_back({std::move(text), std::move(tagString), std::move(paramText)});
        text.clear();
        // Drops the ">" and copies the blanks after it.
        parser.AdvanceToken(true);
      } else {
        // No tag: the "<" stays, the blanks after it are lost and the token after it is
        // copied with it, so "<<#" starts no tag.
        text += '<';
        parser.EmitToken();
        parser.AdvanceToken(true);
      }
    }
  } catch (const EParserError& error) {
    scanned.ScanError_ = error.Message();
    return scanned;
  }
  scanned.TextAfter_ = std::move(text);
  return scanned;
}

TScannedTemplate TScannedTemplate::ScanText(std::string_view text) {
  // Read in place, so that a template given as text is not copied again.
  return Scan([&text](char* bytes, std::size_t count) {
    const std::size_t taken = std::min(count, text.size());
    std::memcpy(bytes, text.data(), taken);
    text.remove_prefix(taken);
    return taken;
  });
}

}  // namespace web
