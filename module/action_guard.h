// Every action handler, the module's construction and the tag handler run their steps
// inside one guard: a failure is written to the error log under the label of the place
// that failed and then raised again, unchanged, for the application to answer.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "app/caught_exception.h"
#include "config/error_log.h"

namespace module {

// The message of the exception being handled, as the 500 response shows it. Taken
// whole: what() would end it at a NUL byte, which a value from the request may hold.
inline std::string CurrentFailureMessage() {
  return app::DescribeException(std::current_exception()).Message();
}

template <class Steps>
void RunLogged(std::string_view label, Steps&& steps) {
  try {
    steps();
  } catch (const std::exception&) {
    config::WriteErrorLogEntry(label, CurrentFailureMessage());
    throw;
  }
}

}  // namespace module
