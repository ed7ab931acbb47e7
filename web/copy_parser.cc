#include "web/copy_parser.h"

#include <cstring>

#include "platform/invariant.h"
#include "platform/japanese_texts.h"
#include "platform/text_format.h"

namespace web {

using platform::FormatText;

namespace {

bool IsBlank(unsigned char c) { return c >= 1 && c <= 32; }

bool IsSymbolStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsSymbolPart(unsigned char c) { return IsSymbolStart(c) || (c >= '0' && c <= '9'); }

}  // namespace

TCopyParser::TByteSource TCopyParser::StreamSource(std::istream& input) {
  return [&input](char* bytes, std::size_t count) {
    input.read(bytes, static_cast<std::streamsize>(count));
    return static_cast<std::size_t>(input.gcount());
  };
}

TCopyParser::TCopyParser(TByteSource source, std::string* output)
    : Input_(std::move(source)), Output_(output), Window_(new char[WindowSize]) {
  // An empty usable text: the first scan refills the window.
  Window_[0] = 0;
  AdvanceToken(true);
}

TCopyParser::TCopyParser(std::istream& input, std::string* output)
    : TCopyParser(StreamSource(input), output) {}

void TCopyParser::Write(const char* bytes, std::size_t count) {
  if (Output_ != nullptr) Output_->append(bytes, count);
}

void TCopyParser::AdvanceToken(bool copyBlanks) {
  SkipBlanks(copyBlanks, nullptr);
  ReadToken();
}

void TCopyParser::EmitToken() {
  LIRAWEB_ASSERT(TokenStart_ <= Position_ && Position_ <= ReadEnd_);
  Write(Window_.get() + TokenStart_, Position_ - TokenStart_);
}

std::string TCopyParser::TokenText() const {
  LIRAWEB_ASSERT(TokenStart_ <= Position_ && Position_ <= ReadEnd_);
  return std::string(Window_.get() + TokenStart_, Position_ - TokenStart_);
}

std::string TCopyParser::CollectUntil(char ch) {
  std::string collected;
  while (Token_ != ch && Token_ != EndToken) {
    SkipBlanks(false, &collected);
    ReadToken();
    if (Token_ != ch) collected.append(Window_.get() + TokenStart_, Position_ - TokenStart_);
  }
  return collected;
}

void TCopyParser::CopyUntil(char ch) {
  LIRAWEB_ASSERT(ch != 0 && !IsBlank(static_cast<unsigned char>(ch)) &&
                 !IsSymbolPart(static_cast<unsigned char>(ch)));
  while (Token_ != ch && Token_ != EndToken) {
    // Every byte from the token up to the next ch or zero is copied; a ch cannot stand
    // inside a symbol, so it starts the token looked for. The zero at the end of the
    // usable text stops the scan.
    LIRAWEB_ASSERT(Position_ <= TextEnd_);
    const char* window = Window_.get();
    const char* from = window + Position_;
    const void* found = std::memchr(from, ch, TextEnd_ - Position_);
    std::size_t stop = found != nullptr ? static_cast<const char*>(found) - window : TextEnd_;
    found = std::memchr(from, 0, stop - Position_);
    if (found != nullptr) stop = static_cast<const char*>(found) - window;
    for (const char* end = window + stop;
         (from = static_cast<const char*>(std::memchr(from, '\n', end - from))) != nullptr; ++from) {
      ++LineNumber_;
    }
    Write(window + TokenStart_, stop - TokenStart_);
    TokenStart_ = Position_ = stop;
    // Reads the ch token, or refills the window (or ends) at the zero.
    AdvanceToken(true);
  }
}

void TCopyParser::SkipBlanks(bool copy, std::string* collectInto) {
  // Blanks are handed on in stretches: a stretch ends at the next token or where the
  // window is refilled, which overwrites it.
  auto handOn = [&](std::size_t from) {
    if (copy) Write(Window_.get() + from, Position_ - from);
    if (collectInto != nullptr) collectInto->append(Window_.get() + from, Position_ - from);
  };
  std::size_t stretch = Position_;
  while (!AtEnd_) {
    const unsigned char c = Window_[Position_];
    if (IsBlank(c)) {
      if (c == '\n') ++LineNumber_;
      ++Position_;
      continue;
    }
    if (c != 0) break;
    handOn(stretch);
    // A zero byte inside the usable text is part of the template and ends it; only the
    // zero that marks the end of the usable text asks for more input.
    if (Position_ < TextEnd_) {
      AtEnd_ = true;
    } else {
      RefillWindow();
      stretch = Position_;
      AtEnd_ = Window_[Position_] == 0;
    }
  }
  if (!AtEnd_) handOn(stretch);
}

void TCopyParser::ReadToken() {
  TokenStart_ = Position_;
  if (AtEnd_) {
    Token_ = EndToken;
    return;
  }
  const unsigned char first = Window_[Position_++];
  if (IsSymbolStart(first)) {
    // The zero at the end of the usable text stops the loop.
    while (IsSymbolPart(Window_[Position_])) ++Position_;
    LIRAWEB_ASSERT(Position_ <= TextEnd_);
    Token_ = SymbolToken;
  } else {
    Token_ = static_cast<char>(first);
  }
}

void TCopyParser::RefillWindow() {
  // The scan stands inside the bytes read, and the zero that ends the usable text
  // stands inside the window.
  LIRAWEB_ASSERT(TokenStart_ <= Position_ && Position_ <= ReadEnd_);
  LIRAWEB_ASSERT(TextEnd_ <= ReadEnd_ && ReadEnd_ <= WindowSize);
  char* window = Window_.get();
  window[TextEnd_] = SavedByte_;
  const std::size_t rest = ReadEnd_ - Position_;
  std::memmove(window, window + Position_, rest);
  ReadEnd_ = rest + Input_(window + rest, WindowSize - rest);
  Position_ = TokenStart_ = 0;
  TextEnd_ = ReadEnd_;
  if (ReadEnd_ == WindowSize) {
    // A full window may end inside a line, so only the lines it holds whole are scanned
    // now; the line feed is looked for from the second to the second-to-last byte.
    TextEnd_ = 0;
    for (std::size_t i = WindowSize - 2; i >= 1; --i) {
      if (window[i] == '\n') {
        TextEnd_ = i + 1;
        break;
      }
    }
    if (TextEnd_ == 0) {
      throw EParserError(FormatText(platform::texts::kParserErrorAtLine,
                                    {platform::texts::kLineTooLong, std::to_string(LineNumber_)}));
    }
  }
  LIRAWEB_ASSERT(TextEnd_ < WindowSize && TextEnd_ <= ReadEnd_);
  SavedByte_ = window[TextEnd_];
  window[TextEnd_] = 0;
}

}  // namespace web
