// Misuse of the application object or of its dispatcher: a duplicate action name, a
// request served before a module class was registered.
#pragma once

#include "platform/exception.h"

namespace app {

class EWebAppError : public platform::Exception {
 public:
  explicit EWebAppError(std::string message)
      : platform::Exception("EWebAppError", std::move(message)) {}
};

}  // namespace app
