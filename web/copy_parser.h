// Streams a template through a fixed window and copies it to the output, stopping at
// each token so that the page producer can recognise tags and write their replacement
// in their place. The template is never held whole: only one window of it at a time.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <memory>
#include <string>

#include "platform/exception.h"

namespace web {

// The template scanner could not go on (a line does not fit its window).
class EParserError : public platform::Exception {
 public:
  explicit EParserError(std::string message)
      : platform::Exception("EParserError", std::move(message)) {}
};

// Tokens: blanks are the bytes 1 to 32 and separate tokens; a symbol is an ASCII letter
// or "_" followed by letters, digits and "_"; every other byte is a token of its own;
// a zero byte (or the end of the input) ends the text.
class TCopyParser {
 public:
  // Bytes of template the window holds at most.
  static constexpr std::size_t WindowSize = 4096;
  // Token() of a symbol and of the end of the text; any other token is its own byte.
  static constexpr char SymbolToken = 1;
  static constexpr char EndToken = 0;

  // Where the template comes from: fills bytes with up to count bytes and returns how
  // many it gave, fewer only at the end of the input.
  using TByteSource = std::function<std::size_t(char* bytes, std::size_t count)>;

  // A source reading input (not owned) until its end.
  static TByteSource StreamSource(std::istream& input);

  // Scans what source gives and appends the copied bytes to output (not owned, may be
  // null): the page is built in one piece of memory. Reads the first token, copying
  // the blanks before it. Raises EParserError like AdvanceToken.
  TCopyParser(TByteSource source, std::string* output);
  // The same, reading input (not owned).
  TCopyParser(std::istream& input, std::string* output);
  TCopyParser(const TCopyParser&) = delete;
  TCopyParser& operator=(const TCopyParser&) = delete;

  // Skips blanks (written to the output when copyBlanks), counting line feeds, and reads
  // the next token without writing it. Raises EParserError when a line does not fit
  // the window.
  void AdvanceToken(bool copyBlanks);

  // Writes the bytes of the current token to the output.
  void EmitToken();

  // The bytes of the current token; empty at the end of the text.
  std::string TokenText() const;

  // The current token: a byte, SymbolToken or EndToken.
  char Token() const { return Token_; }

  // Advances, writing nothing, until the current token is ch or the end of the text,
  // and returns the exact text passed over between the end of the token current on
  // entry and that ch token (not included). Raises EParserError like AdvanceToken.
  std::string CollectUntil(char ch);

  // Copies the current token and everything after it to the output until the current
  // token is ch or the end of the text: what EmitToken and AdvanceToken(true) in turn
  // would write, but in one stretch per window. ch must be a token of its own (not a
  // blank, not part of a symbol, not zero).
  void CopyUntil(char ch);

  // The line of the current position, from 1, raised by every line feed passed.
  int LineNumber() const { return LineNumber_; }

 private:
  // Skips blanks, appending them to copyTo or collectInto when given; leaves the
  // position on the next token's first byte, or marks the end of the text.
  void SkipBlanks(bool copy, std::string* collectInto);

  // Writes bytes to whichever output was given.
  void Write(const char* bytes, std::size_t count);

  // Reads the token at the position and makes it current.
  void ReadToken();

  // Moves the unread rest of the window to its start and fills the window from the
  // input. A full window is cut after its last line feed so that no token straddles
  // the window's end. Raises EParserError when a full window holds no such line feed.
  void RefillWindow();

  TByteSource Input_;
  std::string* Output_ = nullptr;
  std::unique_ptr<char[]> Window_;
  std::size_t Position_ = 0;    // next byte to scan
  std::size_t TokenStart_ = 0;  // first byte of the current token
  std::size_t TextEnd_ = 0;     // end of the usable text, where a zero byte stands
  std::size_t ReadEnd_ = 0;     // end of the bytes read from the input
  char SavedByte_ = 0;          // the byte the zero at TextEnd_ replaced
  char Token_ = EndToken;
  bool AtEnd_ = false;
  int LineNumber_ = 1;
};

}  // namespace web
