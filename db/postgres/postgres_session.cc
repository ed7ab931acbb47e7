#include "db/postgres/postgres_session.h"

#include <poll.h>

#include <utility>

namespace db::postgres {

std::int32_t SqlStateCode(const char* state) {
  std::int32_t code = 0;
  for (int i = 0; state && state[i] && i < 5; ++i) {
    char c = state[i];
    code = code * 36 + (c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'Z' ? c - 'A' + 10 : 0);
  }
  return code;
}

void Fail(PGconn* connection, const PGresult* result, std::uint16_t code) {
  std::vector<TDBError> entries;
  if (result && PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)) {
    const std::int32_t native = SqlStateCode(PQresultErrorField(result, PG_DIAG_SQLSTATE));
    for (int field : {PG_DIAG_MESSAGE_PRIMARY, PG_DIAG_MESSAGE_DETAIL, PG_DIAG_MESSAGE_HINT}) {
      if (const char* text = PQresultErrorField(result, field)) {
        entries.push_back({code, native ? native : 1, text});
      }
    }
  } else {
    entries.push_back({code, 0, connection ? PQerrorMessage(connection) : ""});
  }
  throw DriverError{code, std::move(entries)};
}

void FailUnlessDone(PGconn* connection, const PGresult* result) {
  const ExecStatusType status = PQresultStatus(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(connection, result);
}

Send Query(std::string text, std::vector<std::string> params) {
  return [text = std::move(text), params = std::move(params)](PGconn* connection) {
    std::vector<const char*> values;
    for (const std::string& param : params) values.push_back(param.c_str());
    return PQsendQueryParams(connection, text.c_str(), static_cast<int>(values.size()), nullptr,
                             values.data(), nullptr, nullptr, 0);
  };
}

std::string Session::NewName(const char* kind) {
  return "dbengine_" + std::string(kind) + std::to_string(++NamesGiven);
}

Result Session::Run(const std::string& command) {
  return Exchange(
      [&command](PGconn* connection) { return PQsendQuery(connection, command.c_str()); });
}

Result Session::Exchange(const Send& send) {
  StartExchange();
  if (!send(Connection)) Fail(Connection, nullptr);
  Flush();
  Result last;
  while (Result result = NextResult()) {
    FailUnlessDone(Connection, result.get());
    last = std::move(result);
  }
  if (!last) Fail(Connection, nullptr);
  return last;
}

void Session::RunUnchecked(const std::string& command) noexcept {
  try {
    Run(command);
  } catch (const DriverError&) {
  }
}

// This also bounds the time the program itself spent on the statement's text.
void Session::StartExchange() {
  if (!Connection || (Deadline && Clock::now() >= *Deadline)) OutOfTime();
}

short Session::Await(short events) {
  const std::optional<short> ready = AwaitSocket(PQsocket(Connection), events, Deadline, kErrSql);
  if (!ready) OutOfTime();
  return *ready;
}

void Session::Flush() {
  while (true) {
    const int unsent = PQflush(Connection);
    if (unsent == 0) return;
    if (unsent < 0) Fail(Connection, nullptr);
    // The server may answer while it still reads: read it, so that it goes on reading.
    if ((Await(POLLIN | POLLOUT) & POLLIN) && !PQconsumeInput(Connection))
      Fail(Connection, nullptr);
  }
}

Result Session::NextResult() {
  while (PQisBusy(Connection)) {
    Await(POLLIN);
    if (!PQconsumeInput(Connection)) Fail(Connection, nullptr);
  }
  return Result(PQgetResult(Connection));
}

// The server is asked to stop the running statement, which must not go on without its
// client, the connection is closed, and the request ends with the time-limit failure.
void Session::OutOfTime() {
  if (Connection) {
    if (PQtransactionStatus(Connection) == PQTRANS_ACTIVE) CancelRunning(Connection);
    PQfinish(Connection);
    Connection = nullptr;
  }
  FailOutOfTime(kErrSql);
}

}  // namespace db::postgres
