// Statements of fixed text that every search runs on the search index (its description,
// its pending rows, its lists, the keys of joined tables), prepared once on a connection
// that keeps them and reused by each later search on it. SQLite prepares a statement
// again by itself when the schema changed, so a kept statement reads the schema of its
// run, as a freshly prepared one would.
#pragma once

#include <sqlite3.h>

#include <any>
#include <optional>
#include <string>
#include <utility>

namespace db::searchindex {

// Has the connection keep the statements prepared through KeptStatement until
// ForgetKeptStatements, which must come before the connection is closed.
void KeepStatementsOf(sqlite3* db);

// Finalizes the statements the connection keeps and stops keeping them.
void ForgetKeptStatements(sqlite3* db);

// How long a connection keeps a statement: one of fixed text for as long as it lives;
// one whose text carries a search's own words among the few used last, so that a
// process answering many different searches does not gather a statement for each.
enum class Keeping { kAlways, kAmongRecent };

// How many statements of Keeping::kAmongRecent a connection keeps at most.
inline constexpr int kMostRecentKept = 32;

// A statement of sql on db, ready to bind and step: the connection's kept one (reset,
// without bindings) when it keeps statements and that one is not in use, else one
// prepared now and finalized when the handle goes. Null when sql does not prepare
// (the connection's error code then says why).
class KeptStatement {
 public:
  KeptStatement(sqlite3* db, const std::string& sql, Keeping keeping = Keeping::kAlways);
  KeptStatement(KeptStatement&& other) noexcept
      : statement_(std::exchange(other.statement_, nullptr)),
        inUse_(std::exchange(other.inUse_, nullptr)) {}
  KeptStatement(const KeptStatement&) = delete;
  KeptStatement& operator=(const KeptStatement&) = delete;
  KeptStatement& operator=(KeptStatement&&) = delete;
  // Resets a kept statement, ending its read, or finalizes one prepared for this use.
  ~KeptStatement();

  sqlite3_stmt* get() const { return statement_; }
  explicit operator bool() const { return statement_ != nullptr; }

 private:
  sqlite3_stmt* statement_ = nullptr;
  bool* inUse_ = nullptr;  // the kept statement's mark, owned by its connection's store
};

// The state of the database that the connection's open read transaction holds fixed
// (its data version, which any commit changes, this connection's own included); nullopt
// outside a transaction, in a writing one, or on a connection that keeps nothing. A
// transaction begun but not yet read from is made to read, so that the version is
// that of the state it will see.
std::optional<unsigned> HeldReadState(sqlite3* db);

// How many facts (KeptFact) a connection keeps at most; more forget them all.
inline constexpr int kMostFactsKept = 64;

// The fact kept under key for the state, if one was kept for it.
std::optional<std::any> FindKeptFact(sqlite3* db, const std::string& key, unsigned state);
// Keeps the fact under key for the state; the facts of another state are forgotten.
void KeepFact(sqlite3* db, const std::string& key, unsigned state, std::any fact);

// A fact of the database (the index's description, whether a column is unique) read by
// read() once for each state a read transaction holds, so that the searches of a
// long-lived process do not read it again while nothing was written. Outside a held
// read state it is read every time. What read() raises goes to the caller, nothing kept.
template <typename Fact, typename Read>
Fact KeptFact(sqlite3* db, const std::string& key, Read read) {
  const std::optional<unsigned> state = HeldReadState(db);
  if (!state) return read();
  if (std::optional<std::any> kept = FindKeptFact(db, key, *state)) {
    return std::any_cast<Fact>(*std::move(kept));
  }
  Fact fact = read();
  KeepFact(db, key, *state, fact);
  return fact;
}

}  // namespace db::searchindex
