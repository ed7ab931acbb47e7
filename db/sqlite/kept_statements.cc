#include "db/sqlite/kept_statements.h"

#include <cstdint>
#include <map>
#include <mutex>

#include "db/sqlite/candidate_table.h"

namespace db::searchindex {

namespace {

struct Kept {
  sqlite3_stmt* statement = nullptr;
  bool inUse = false;
  bool amongRecent = false;  // kept as Keeping::kAmongRecent
  std::uint64_t lastUse = 0;
};

// The kept statements of one connection, by their text.
struct ConnectionStatements {
  std::map<std::string, Kept> byText;
  std::uint64_t uses = 0;  // counts the takings, to tell which was used last
  // The facts kept for one state of the database (KeptFact), by their key.
  std::map<std::string, std::any> facts;
  unsigned factsState = 0;
};

// Finalizes the least recently used statement kept among the recent ones and not in
// use, when more than kMostRecentKept are kept.
void DropOldestRecent(ConnectionStatements& kept) {
  int recent = 0;
  auto oldest = kept.byText.end();
  for (auto it = kept.byText.begin(); it != kept.byText.end(); ++it) {
    if (!it->second.amongRecent) continue;
    ++recent;
    if (!it->second.inUse &&
        (oldest == kept.byText.end() || it->second.lastUse < oldest->second.lastUse)) {
      oldest = it;
    }
  }
  if (recent <= kMostRecentKept || oldest == kept.byText.end()) return;
  sqlite3_finalize(oldest->second.statement);
  kept.byText.erase(oldest);
}

// The kept statements of each connection that keeps them, by their text. Only a
// connection named by KeepStatementsOf has an entry, and ForgetKeptStatements removes
// it before the connection closes, so an address is never taken for a closed one.
struct Store {
  std::mutex lock;
  std::map<sqlite3*, ConnectionStatements> byConnection;
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
  for (auto& [text, kept] : found->second.byText) sqlite3_finalize(kept.statement);
  store.byConnection.erase(found);
}

std::optional<unsigned> HeldReadState(sqlite3* db) {
  if (sqlite3_get_autocommit(db)) return std::nullopt;
  {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    if (!store.byConnection.count(db)) return std::nullopt;
  }
  // A deferred BEGIN takes its read lock, and so learns of other connections' commits,
  // only at its first read.
  if (sqlite3_txn_state(db, "main") == SQLITE_TXN_NONE) {
    const KeptStatement read(db, "PRAGMA schema_version");
    if (!read || sqlite3_step(read.get()) != SQLITE_ROW) return std::nullopt;
  }
  if (sqlite3_txn_state(db, "main") != SQLITE_TXN_READ) return std::nullopt;
  return DataVersion(db);
}

std::optional<std::any> FindKeptFact(sqlite3* db, const std::string& key, unsigned state) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  const auto connection = store.byConnection.find(db);
  if (connection == store.byConnection.end() || connection->second.factsState != state) {
    return std::nullopt;
  }
  const auto found = connection->second.facts.find(key);
  if (found == connection->second.facts.end()) return std::nullopt;
  return found->second;
}

void KeepFact(sqlite3* db, const std::string& key, unsigned state, std::any fact) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  const auto connection = store.byConnection.find(db);
  if (connection == store.byConnection.end()) return;
  ConnectionStatements& kept = connection->second;
  if (kept.factsState != state ||
      (kept.facts.size() >= static_cast<std::size_t>(kMostFactsKept) && !kept.facts.count(key))) {
    kept.facts.clear();
    kept.factsState = state;
  }
  kept.facts.insert_or_assign(key, std::move(fact));
}

KeptStatement::KeptStatement(sqlite3* db, const std::string& sql, Keeping keeping) {
  {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    const auto connection = store.byConnection.find(db);
    if (connection != store.byConnection.end()) {
      ConnectionStatements& statements = connection->second;
      Kept& kept = statements.byText[sql];
      if (!kept.statement) {
        if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &kept.statement,
                               nullptr) != SQLITE_OK) {
          sqlite3_finalize(kept.statement);
          statements.byText.erase(sql);
          return;
        }
        kept.amongRecent = keeping == Keeping::kAmongRecent;
      }
      if (!kept.inUse) {
        kept.lastUse = ++statements.uses;
        kept.inUse = true;
        // The one just taken is in use, so it is never the one dropped.
        if (kept.amongRecent) DropOldestRecent(statements);
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
