// The one failure of the catalogue tools: a bad record, an unreadable file or a
// database that refused a statement. The message says what and, where known, where.
#pragma once

#include <string>

#include "platform/exception.h"

class ECatalogError : public Exception {
 public:
  explicit ECatalogError(std::string message) : Exception("ECatalogError", std::move(message)) {}
};
