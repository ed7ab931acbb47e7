// The PostgreSQL driver, built as the plug-in module libdbengine_pg.so so that libpq
// is loaded only by a process that opens a PostgreSQL alias: connecting, and the
// database the program is given. The connection speaks Shift_JIS (client_encoding SJIS):
// the server stores UTF-8 and the program still sees its own bytes.
#include <libpq-fe.h>
#include <poll.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "db/postgres/postgres_plugin.h"
#include "db/postgres/postgres_session.h"
#include "db/postgres/postgres_statement.h"

namespace db::postgres {

namespace {

// The request's deadline: timeLimitSeconds from now, none for 0.
std::optional<Clock::time_point> DeadlineFromNow(int timeLimitSeconds) {
  if (timeLimitSeconds <= 0) return std::nullopt;
  return Clock::now() + std::chrono::seconds(timeLimitSeconds);
}

class PostgresDatabase : public Database {
 public:
  PostgresDatabase(std::shared_ptr<Session> session, int timeLimitSeconds)
      : session_(std::move(session)), timeLimitSeconds_(timeLimitSeconds) {}

  std::unique_ptr<Statement> Prepare(std::string_view sql) override {
    return std::make_unique<PostgresStatement>(session_, sql);
  }

  // Kept while connected, outside a transaction and without an open cursor.
  bool KeptForNextRequest() const override {
    PGconn* connection = session_->Connection;
    return connection && PQstatus(connection) == CONNECTION_OK &&
           PQtransactionStatus(connection) == PQTRANS_IDLE && session_->OpenCursors == 0;
  }

  // A server (or pooler) that ends an idle connection sends its reason and closes the
  // socket; an idle connection is otherwise sent nothing worth keeping it for. Anything
  // waiting on the socket therefore means the connection is opened again rather than
  // failing the request's first statement (the close itself may not yet be readable).
  bool StartRequest() override {
    PGconn* connection = session_->Connection;
    if (!connection || PQstatus(connection) != CONNECTION_OK) return false;
    pollfd socket{PQsocket(connection), POLLIN, 0};
    if (poll(&socket, 1, 0) != 0) return false;
    session_->Deadline = DeadlineFromNow(timeLimitSeconds_);
    // What a request learnt of the catalogue (its search functions, its broad words, the
    // indexes of the best-match order) is learnt again, as a new connection would: the
    // catalogue may have been reloaded or indexed since, and the words of every request
    // kept would grow the process without end.
    session_->FoldingChecked = false;
    session_->GramSharesKept = false;
    session_->BroadWords.clear();
    session_->BestMatchIndexes.reset();
    return true;
  }

 private:
  std::shared_ptr<Session> session_;
  int timeLimitSeconds_;
};

// Connects, and with a deadline waits for the server only until it: libpq's own wait
// would not end while a server or a pooler in front of it accepts the connection and
// never answers.
PGconn* Connect(const char* const* keywords, const char* const* values,
                const std::optional<Clock::time_point>& deadline) {
  if (!deadline) return PQconnectdbParams(keywords, values, 0);
  std::unique_ptr<PGconn, void (*)(PGconn*)> connection(PQconnectStartParams(keywords, values, 0),
                                                        PQfinish);
  // Before the first poll libpq waits to write, as the socket is being connected.
  PostgresPollingStatusType polled = PGRES_POLLING_WRITING;
  while (connection && PQstatus(connection.get()) != CONNECTION_BAD && polled != PGRES_POLLING_OK &&
         polled != PGRES_POLLING_FAILED) {
    if (!AwaitSocket(PQsocket(connection.get()), polled == PGRES_POLLING_READING ? POLLIN : POLLOUT,
                     deadline, kErrCannotOpen))
      FailOutOfTime(kErrCannotOpen);
    polled = PQconnectPoll(connection.get());
  }
  return connection.release();
}

// Connects with client_encoding SJIS in the start-up message rather than set by a
// statement afterwards: one exchange with the server less. A connection text libpq
// cannot read is passed on as it stands, so that the failure is libpq's own message.
PGconn* ConnectInShiftJis(const char* connInfo, const std::optional<Clock::time_point>& deadline) {
  char* parseError = nullptr;
  std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)> given(
      PQconninfoParse(connInfo, &parseError), PQconninfoFree);
  if (!given) {
    PQfreemem(parseError);
    return PQconnectdb(connInfo);
  }
  std::vector<const char*> keywords, values;
  for (const PQconninfoOption* option = given.get(); option->keyword; ++option) {
    if (!option->val || std::string_view(option->keyword) == "client_encoding") continue;
    keywords.push_back(option->keyword);
    values.push_back(option->val);
  }
  keywords.insert(keywords.end(), {"client_encoding", nullptr});
  values.insert(values.end(), {"SJIS", nullptr});
  return Connect(keywords.data(), values.data(), deadline);
}

// The settings of the program's session, sent in one exchange. The server stops a
// statement that runs past the time limit even when the driver's cancel request could
// not reach it. JIT compilation is off: a compiling backend heeds no cancel request and
// would go on for minutes after the request ended, for statements whose compiled form
// saves little. And a backend checks every second that its client is still there, so
// that a statement whose client has gone ends.
std::string SessionSettings(PGconn* connection, int timeLimitSeconds) {
  std::string settings = "SET statement_timeout = " + std::to_string(timeLimitSeconds * 1000);
  if (PQserverVersion(connection) >= 110000) settings += "; SET jit = off";
  if (PQserverVersion(connection) >= 140000)
    settings += "; SET client_connection_check_interval = 1000";
  return settings;
}

}  // namespace

// The session, connected and set up; its deadline is timeLimitSeconds from now.
Database* Open(const char* connInfo, MatchMode match, int timeLimitSeconds) {
  const std::optional<Clock::time_point> deadline = DeadlineFromNow(timeLimitSeconds);
  auto session = std::make_shared<Session>(ConnectInShiftJis(connInfo, deadline), deadline);
  session->Match = match;
  PGconn* connection = session->Connection;
  if (!connection || PQstatus(connection) != CONNECTION_OK ||
      PQsetnonblocking(connection, 1) != 0) {
    Fail(connection, nullptr, kErrCannotOpen);
  }
  // Server notices (NOTICE, WARNING) are no failures; libpq would print them on stderr,
  // which under a web server is the server's error log.
  PQsetNoticeProcessor(
      connection, [](void*, const char*) {}, nullptr);
  session->Run(SessionSettings(connection, timeLimitSeconds));
  return new PostgresDatabase(std::move(session), timeLimitSeconds);
}

}  // namespace db::postgres

extern "C" db::Database* dbengine_pg_open(const char* connInfo, db::MatchMode match,
                                          int timeLimitSeconds) {
  return db::postgres::Open(connInfo, match, timeLimitSeconds);
}

static_assert(std::is_same_v<decltype(dbengine_pg_open), db::PostgresOpenFunction>);
