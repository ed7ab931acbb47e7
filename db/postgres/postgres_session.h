// The connection to the PostgreSQL server as the plug-in's database, statements and
// cursors share it: its exchanges with the server, each bounded by the request's
// deadline, and the failures they throw.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "db/driver.h"
#include "db/engine_codes.h"
#include "db/postgres/postgres_deadline.h"

namespace db::postgres {

struct ResultCloser {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultCloser>;

// A SQLSTATE (five digits or capital letters) as a number, the server's native code.
std::int32_t SqlStateCode(const char* state);

// Throws the failure of `result` (its message, detail and hint) as `code`, or without a
// result the connection's last message.
[[noreturn]] void Fail(PGconn* connection, const PGresult* result, std::uint16_t code = kErrSql);

// Throws the failure of `result` unless its command succeeded.
void FailUnlessDone(PGconn* connection, const PGresult* result);

// A command of a pipeline: a call of one of libpq's PQsend functions.
using Send = std::function<int(PGconn*)>;

// A text with $n parameters, all sent as text of a type the server infers.
Send Query(std::string text, std::vector<std::string> params = {});

// The connection, shared by the database and its statements and cursors. Cursors run
// inside one transaction, begun by the first open cursor and ended by the last. Every
// exchange with the server waits on the socket only up to the request's deadline (the
// alias's TIME_LIMIT from the moment the database was opened); past it the running
// command is cancelled, the connection dropped and the time-limit failure thrown, and
// every later use of the session fails the same way.
struct Session {
  Session(PGconn* connection, std::optional<Clock::time_point> deadline)
      : Connection(connection), Deadline(deadline) {}
  ~Session() { PQfinish(Connection); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  PGconn* Connection;                         // null once dropped at the deadline
  std::optional<Clock::time_point> Deadline;  // none: no time limit
  int OpenCursors = 0;
  int NamesGiven = 0;
  // How LIKE compares. Folded and loose matching need the folding functions that the
  // catalogue tools install: whether they are there is asked once, at the first
  // statement with LIKE.
  MatchMode Match = MatchMode::kExact;
  bool FoldingChecked = false;
  // Whether the catalogue tools' copy of the n-gram statistics can be read (asked with
  // the functions): cheaper to read than the statistics view.
  bool GramSharesKept = false;
  // Words found held by most rows, by column and grams (see BroadWords).
  std::map<std::string, bool> BroadWords;
  // The indexes of the best-match order among those catalog_index build --postgres
  // creates (postgres_ranked_tiers.h), by name: asked at a request's first statement of
  // that order, with the functions when they are asked then.
  std::optional<std::set<std::string>> BestMatchIndexes;

  // A name for a new server-side object of `kind` ("s" statement, "c" cursor), unique in
  // the session.
  std::string NewName(const char* kind);

  // Runs a command (or several separated by ";") without parameters and checks each;
  // gives the last one's result. Throws DriverError.
  Result Run(const std::string& command);

  // Sends a command (`send`, not in a pipeline) and checks each of its results; gives
  // the last. Throws DriverError.
  Result Exchange(const Send& send);

  // Runs a command whose failure leaves nothing to mend (the release of a statement, the
  // end of a read-only transaction, which the server rolls back when the connection ends).
  void RunUnchecked(const std::string& command) noexcept;

  // Sends the commands together and waits for their results once: one exchange with the
  // server instead of one a command, which counts through a connection pooler. The
  // server skips the commands after a failed one; the failure is that command's own.
  // Throws DriverError, also when the connection could not leave pipeline mode.
  std::vector<Result> RunTogether(const std::vector<Send>& commands);

 private:
  // Before a command is sent: the connection is there and the deadline has not passed.
  void StartExchange();
  // Waits for the socket to be ready for `events`, up to the deadline.
  short Await(short events);
  // Sends what libpq holds for the server (the connection does not block).
  void Flush();
  // The next result of the command being answered, null at its end.
  Result NextResult();
  // The deadline has passed: cancels, drops the connection and throws.
  [[noreturn]] void OutOfTime();
};

}  // namespace db::postgres
