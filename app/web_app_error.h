// Misuse of the application object or of its dispatcher: a duplicate action name, a
// request served before a module class was registered.
#pragma once

#include "platform/exception.h"

class EWebAppError : public Exception {
 public:
  explicit EWebAppError(std::string message) : Exception("EWebAppError", std::move(message)) {}
};
