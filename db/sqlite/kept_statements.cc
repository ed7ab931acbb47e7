#include "db/sqlite/kept_statements.h"

#include <map>
#include <mutex>

namespace db::searchindex {

namespace {

struct Kept {
  sqlite3_stmt* statement = nullptr;
  bool inUse = false;
};

// The kept statements of each connection that keeps them, by their text. Only a
// connection named by KeepStatementsOf has an entry, and ForgetKeptStatements removes
// it before the connection closes, so an address is never taken for a closed one.
struct Store {
  std::mutex lock;
  std::map<sqlite3*, std::map<std::string, Kept>> byConnection;
};

// Never destroyed: a connection held by a static (the engine's kept databases) is
// closed after the statics of this file would be, and forgets its statements then.
Store& TheStore() {
  static Store* const store = new Store;
  return *store;
}

}  // namespace

void KeepStatementsOf(sqlite3* db) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  store.byConnection.try_emplace(db);
}

void ForgetKeptStatements(sqlite3* db) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  const auto found = store.byConnection.find(db);
  if (found == store.byConnection.end()) return;
  for (auto& [text, kept] : found->second) sqlite3_finalize(kept.statement);
  store.byConnection.erase(found);
}

KeptStatement::KeptStatement(sqlite3* db, const std::string& sql) {
  {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    const auto connection = store.byConnection.find(db);
    if (connection != store.byConnection.end()) {
      Kept& kept = connection->second[sql];
      if (!kept.statement) {
        if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &kept.statement,
                               nullptr) != SQLITE_OK) {
          sqlite3_finalize(kept.statement);
          connection->second.erase(sql);
          return;
        }
      }
      if (!kept.inUse) {
        kept.inUse = true;
        inUse_ = &kept.inUse;
        statement_ = kept.statement;
        return;
      }
    }
  }
  // A connection that keeps nothing, or the kept statement is running further up (a
  // search computed again while a statement reads it): one of its own.
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
}

KeptStatement::~KeptStatement() {
  if (!statement_) return;
  if (!inUse_) {
    sqlite3_finalize(statement_);
    return;
  }
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
  *inUse_ = false;
}

}  // namespace db::searchindex
