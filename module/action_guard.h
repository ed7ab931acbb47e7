// Every action handler, the module's construction and the tag handler run their steps
// inside one guard: a failure is written to the error log under the label of the place
// that failed and then raised again, unchanged, for the application to answer.
#pragma once

#include <exception>
#include <string_view>

#include "config/error_log.h"

template <class Steps>
void RunLogged(std::string_view label, Steps&& steps) {
  try {
    steps();
  } catch (const std::exception& error) {
    WriteErrorLogEntry(label, error.what());
    throw;
  }
}
