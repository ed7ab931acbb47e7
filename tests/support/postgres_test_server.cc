#include "tests/support/postgres_test_server.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/sjis.h"
#include "tests/support/files.h"

namespace test_support {

PostgresTestServer::PostgresTestServer(const std::string& database, const std::string& ctype,
                                       const char* conninfoVariable) {
  const char* conninfoFile = std::getenv(conninfoVariable);
  if (conninfoFile == nullptr) return;
  std::string conninfo = ReadWholeFile(conninfoFile);
  while (!conninfo.empty() && conninfo.back() == '\n') conninfo.pop_back();
  Connect(conninfo);
  Run("DROP DATABASE IF EXISTS " + database);
  Run("CREATE DATABASE " + database + " ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE '" + ctype +
      "' TEMPLATE template0");
  conninfo_ = conninfo + " dbname=" + database;
  Connect(conninfo_);
}

std::vector<std::string> PostgresTestServer::Rows(const std::string& sql,
                                                  const std::vector<std::string>& params) {
  std::vector<const char*> values;
  for (const std::string& param : params) values.push_back(param.c_str());
  std::unique_ptr<PGresult, decltype(&PQclear)> result(
      PQexecParams(connection_.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                   values.data(), nullptr, nullptr, 0),
      &PQclear);
  std::vector<std::string> rows;
  const ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    ADD_FAILURE() << sql << ": " << PQerrorMessage(connection_.get());
    return rows;
  }
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    std::string line;
    for (int column = 0; column < PQnfields(result.get()); ++column)
      line += (column ? "|" : "") + std::string(PQgetvalue(result.get(), row, column));
    rows.push_back(line);
  }
  return rows;
}

std::string PostgresTestServer::Value(const std::string& sql,
                                      const std::vector<std::string>& params) {
  std::vector<std::string> rows = Rows(sql, params);
  return rows.empty() ? "<no row>" : rows[0];
}

void PostgresTestServer::Connect(const std::string& conninfo) {
  connection_.reset(PQconnectdb(conninfo.c_str()));
  ASSERT_EQ(PQstatus(connection_.get()), CONNECTION_OK) << PQerrorMessage(connection_.get());
  ASSERT_EQ(PQsetClientEncoding(connection_.get(), "SJIS"), 0);
  PQsetNoticeProcessor(
      connection_.get(), [](void*, const char*) {}, nullptr);
}

std::string ArrayLiteral(const std::vector<std::string>& texts) {
  std::string literal = "{";
  for (const std::string& text : texts) {
    literal += literal.size() > 1 ? ",\"" : "\"";
    for (std::size_t i = 0; i < text.size();) {
      const std::size_t length = platform::CharLength(text, i);
      if (length == 1 && (text[i] == '"' || text[i] == '\\')) literal.push_back('\\');
      literal.append(text.substr(i, length));
      i += length;
    }
    literal += "\"";
  }
  return literal + "}";
}

}  // namespace test_support
