// A fresh database on the private PostgreSQL server that a test fixture starts
// (tests/db/pg_cluster.sh), reached in Shift_JIS, for tests that compare the server's
// answers with the program's.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

namespace test_support {

class PostgresTestServer {
 public:
  // Creates the database (dropped first when it is there) with LC_CTYPE `ctype` on the
  // server whose conninfo file the environment variable `conninfoVariable` names (the
  // server of the catalogue tools' tests by default); not Available when the variable is
  // not set.
  PostgresTestServer(const std::string& database, const std::string& ctype,
                     const char* conninfoVariable = "TOOLS_TEST_PG");

  bool Available() const { return connection_ != nullptr; }
  PGconn* Connection() const { return connection_.get(); }
  const std::string& Conninfo() const { return conninfo_; }

  // The rows of a statement (Shift_JIS), each its columns joined by "|"; a failure of
  // the statement fails the test and answers no rows.
  std::vector<std::string> Rows(const std::string& sql,
                                const std::vector<std::string>& params = {});

  // The first row of a statement, or "<no row>".
  std::string Value(const std::string& sql, const std::vector<std::string>& params = {});

  void Run(const std::string& sql) { Rows(sql); }

 private:
  void Connect(const std::string& conninfo);

  std::unique_ptr<PGconn, decltype(&PQfinish)> connection_{nullptr, &PQfinish};
  std::string conninfo_;
};

// A PostgreSQL array literal of Shift_JIS texts, every element quoted.
std::string ArrayLiteral(const std::vector<std::string>& texts);

}  // namespace test_support
