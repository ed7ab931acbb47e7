// The command-line arguments of a catalogue tool, walked one at a time, with the value
// that follows an option taken on request.
#pragma once

#include <string>

#include "db/driver.h"

namespace tools {

// The matching mode named by --match: "folded" or "loose". Raises ECatalogError for
// any other name.
db::MatchMode MatchModeArgument(const std::string& name);

class ArgumentList {
 public:
  ArgumentList(int argc, char** argv) : argc_(argc), argv_(argv) {}

  // Moves to the next argument; false when there is none left.
  bool Next() {
    if (index_ + 1 >= argc_) return false;
    current_ = argv_[++index_];
    return true;
  }

  // The argument Next moved to.
  const std::string& Current() const { return current_; }

  // Takes the argument after the current option as its value. Raises ECatalogError
  // "<option> needs a value" when there is none.
  std::string Value();

 private:
  int argc_;
  char** argv_;
  int index_ = 0;
  std::string current_;
};

}  // namespace tools
