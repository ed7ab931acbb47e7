// Fills a SQLite catalogue file; its texts are stored as the Shift_JIS bytes the program
// reads back unchanged.
#pragma once

#include <sqlite3.h>

#include <string>

#include "tools/catalog_store.h"

namespace tools {

class SqliteCatalogStore : public CatalogStore {
 public:
  // Opens the file, creating it when missing. Raises ECatalogError when it cannot.
  explicit SqliteCatalogStore(std::string path);
  ~SqliteCatalogStore() override;
  SqliteCatalogStore(const SqliteCatalogStore&) = delete;
  SqliteCatalogStore& operator=(const SqliteCatalogStore&) = delete;

  void Begin() override;
  void Clear() override;
  std::map<std::string, int> Locations() override;
  void AddLocation(int code, const std::string& name) override;
  void AddBook(const CatalogRecord& record, int locationCode) override;
  bool ReplaceBook(const CatalogRecord& record, int locationCode, bool withLoan) override;
  bool RemoveBook(const std::string& bookId) override;
  void Commit() override;
  void Rollback() override;
  std::string Describe() const override { return path_; }

 private:
  void Execute(const char* sql);
  sqlite3_stmt* Prepare(const char* sql);
  void Step(sqlite3_stmt* statement);
  void AddLoan(const CatalogRecord& record);
  [[noreturn]] void Fail(const std::string& doing) const;

  std::string path_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insertBook_ = nullptr;
  sqlite3_stmt* insertLoan_ = nullptr;
  sqlite3_stmt* insertLocation_ = nullptr;
  sqlite3_stmt* updateBook_ = nullptr;
  sqlite3_stmt* deleteBook_ = nullptr;
  sqlite3_stmt* deleteLoan_ = nullptr;
};

}  // namespace tools
