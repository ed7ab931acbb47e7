// A file was opened but the bytes could not be written to it (disk full, I/O error).
#pragma once

#include <string>

#include "platform/exception.h"

namespace config {

class EWriteError : public platform::Exception {
 public:
  explicit EWriteError(std::string message)
      : platform::Exception("EWriteError", std::move(message)) {}
};

}  // namespace config
