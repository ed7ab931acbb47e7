// Errors of the query and of the database engine behind it. The query raises
// EDatabaseError for what it finds itself; the engine's failures arrive as
// EDBEngineError, whose message is composed from the engine's texts and error stack.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"

namespace db {

// One entry of the engine's error stack.
struct TDBError {
  std::uint16_t ErrorCode = 0;   // the engine's own code
  std::int32_t NativeError = 0;  // the database server's or library's code, 0 when none
  std::string Message;           // the entry's own text (a server message, a detail)
};

// A failure found by the query itself; also the base of the engine's errors.
class EDatabaseError : public platform::Exception {
 public:
  explicit EDatabaseError(std::string message)
      : platform::Exception("EDatabaseError", std::move(message)) {}

 protected:
  EDatabaseError(std::string className, std::string message)
      : platform::Exception(std::move(className), std::move(message)) {}
};

// A failure reported by the database engine, with the entries of its error stack.
class EDBEngineError : public EDatabaseError {
 public:
  EDBEngineError(std::string message, std::vector<TDBError> errors)
      : EDatabaseError("EDBEngineError", std::move(message)), Errors_(std::move(errors)) {}

  // The engine's error stack of this failure, first entry first.
  const std::vector<TDBError>& Errors() const { return Errors_; }

 private:
  std::vector<TDBError> Errors_;
};

// A statement ran but gave no result set to read.
class ENoResultSet : public EDatabaseError {
 public:
  explicit ENoResultSet(std::string message) : EDatabaseError("ENoResultSet", std::move(message)) {}
};

// The engine's text for one of its error codes; empty for a code it does not know.
using EngineTextOf = std::function<std::string_view(std::uint16_t code)>;

// The message of an engine failure with main code `code`. Before a successful start
// of the engine (and for any code but 2F01) it is the start-up failure text naming
// `engineName`; otherwise the distinct texts of the code and of the stack entries
// (trimmed, compared ignoring letter case) joined with CR LF, or, when there are none,
// the engine's name followed by the bare code.
std::string ComposeEngineMessage(std::uint16_t code, bool engineStarted,
                                 std::string_view engineName, const EngineTextOf& textOf,
                                 const std::vector<TDBError>& stack);

}  // namespace db
