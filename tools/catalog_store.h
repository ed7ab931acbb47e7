// A catalogue database that the loader fills: SQLite or PostgreSQL behind one interface.
// All writes of one load happen inside one transaction, so a failed load leaves the
// catalogue as it was.
#pragma once

#include <map>
#include <string>

#include "tools/catalog_record.h"

namespace tools {

class CatalogStore {
 public:
  virtual ~CatalogStore() = default;

  // Starts the transaction and creates the tables that are missing.
  virtual void Begin() = 0;
  // Deletes every book, loan and shelf location.
  virtual void Clear() = 0;
  // Answers the shelf locations already stored, by name (Shift_JIS) to code.
  virtual std::map<std::string, int> Locations() = 0;
  // Stores a new shelf location.
  virtual void AddLocation(int code, const std::string& name) = 0;
  // Stores one book (its texts in Shift_JIS) at a location code, and its loan row when
  // it is lent out. Raises ECatalogError with the database's message.
  virtual void AddBook(const CatalogRecord& record, int locationCode) = 0;
  // Stores one book in place of the book with its key (or as a new one) and answers
  // whether it replaced one. withLoan: the record says the loan state too, and the loan
  // row is replaced by its own; otherwise a stored loan row stays. Raises ECatalogError.
  virtual bool ReplaceBook(const CatalogRecord& record, int locationCode, bool withLoan) = 0;
  // Removes the book with the key and its loan row; answers whether there was one.
  virtual bool RemoveBook(const std::string& bookId) = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // Names the database in messages.
  virtual std::string Describe() const = 0;
};

}  // namespace tools
