// A file was opened but the bytes could not be written to it (disk full, I/O error).
#pragma once

#include <string>

#include "platform/exception.h"

class EWriteError : public Exception {
 public:
  explicit EWriteError(std::string message) : Exception("EWriteError", std::move(message)) {}
};
