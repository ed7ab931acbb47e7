// Small helpers of the tools that write SQL for SQLite: a statement that finalizes
// itself, and a name quoted as an SQL identifier.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

namespace tools {

struct StatementCloser {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

// The name in double quotes, each quote in it doubled.
inline std::string Quoted(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted.push_back(c);
    if (c == '"') quoted.push_back('"');
  }
  return quoted + "\"";
}

}  // namespace tools
