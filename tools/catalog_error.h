// The one failure of the catalogue tools: a bad record, an unreadable file or a
// database that refused a statement. The message says what and, where known, where.
#pragma once

#include <string>

#include "platform/exception.h"

namespace tools {

class ECatalogError : public platform::Exception {
 public:
  explicit ECatalogError(std::string message)
      : platform::Exception("ECatalogError", std::move(message)) {}
};

}  // namespace tools
