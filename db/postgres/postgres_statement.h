// A statement prepared on the server, its text rewritten for the session's matching.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/driver.h"
#include "db/postgres/postgres_session.h"

namespace db::postgres {

class PostgresStatement : public Statement {
 public:
  // Prepares the server text of `sql` and learns whether it gives rows. Throws
  // DriverError, also when folded or loose matching lacks the server's functions.
  PostgresStatement(std::shared_ptr<Session> session, std::string_view sql);

  ~PostgresStatement() override;

  // Runs the statement: a cursor when it gives rows, otherwise null once it has run.
  std::unique_ptr<Cursor> Execute(const std::vector<std::string>& params) override;

 private:
  std::shared_ptr<Session> session_;
  std::string text_;
  // The statements of the best-match tiers of text_ (RankedTierTexts), read in turn.
  std::vector<std::string> tierTexts_;
  std::string name_;
  bool givesRows_ = false;
};

}  // namespace db::postgres
