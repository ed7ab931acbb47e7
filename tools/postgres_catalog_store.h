// Fills a PostgreSQL catalogue. The connection speaks SJIS as the program's does, so the
// server converts the Shift_JIS texts to its own encoding exactly as it will convert
// them back for the program.
#pragma once

#include <libpq-fe.h>

#include <string>
#include <vector>

#include "tools/catalog_store.h"

namespace tools {

class PostgresCatalogStore : public CatalogStore {
 public:
  // Connects with a libpq connection string. Raises ECatalogError when it cannot.
  explicit PostgresCatalogStore(std::string conninfo);
  ~PostgresCatalogStore() override;
  PostgresCatalogStore(const PostgresCatalogStore&) = delete;
  PostgresCatalogStore& operator=(const PostgresCatalogStore&) = delete;

  void Begin() override;
  void Clear() override;
  std::map<std::string, int> Locations() override;
  void AddLocation(int code, const std::string& name) override;
  void AddBook(const CatalogRecord& record, int locationCode) override;
  bool ReplaceBook(const CatalogRecord& record, int locationCode, bool withLoan) override;
  bool RemoveBook(const std::string& bookId) override;
  void Commit() override;
  void Rollback() override;
  std::string Describe() const override;

 private:
  // Runs a command (parameters as text, a null pointer for NULL) and answers its result;
  // raises ECatalogError with the server's message when it fails.
  PGresult* Run(const char* sql, const std::vector<const char*>& params = {});
  void Prepare(const char* name, const char* sql, int parameterCount);
  // Runs a prepared statement and answers the number of rows it changed.
  int RunPrepared(const char* name, const std::vector<const char*>& params);
  // Runs the prepared statement `name` (parameters 1 to 18 in BOOKMAST's column order)
  // with the book's values; answers the rows changed.
  int RunBook(const char* name, const CatalogRecord& record, int locationCode);
  // Stores the record's loan row when it is lent out.
  void AddLoan(const CatalogRecord& record);
  // Raises ECatalogError with the connection's last message.
  [[noreturn]] void Fail() const;

  PGconn* conn_ = nullptr;
  bool inTransaction_ = false;
};

}  // namespace tools
