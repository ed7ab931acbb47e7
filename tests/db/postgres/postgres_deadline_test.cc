// The alias's TIME_LIMIT bounds all the database work of a process on PostgreSQL, not
// each statement: statements that each stay under the limit stop once together they
// pass it, a statement running at the deadline is cancelled on the server, and a server
// that accepts the connection but never answers does not hold the request.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "db/database_error.h"
#include "db/query.h"
#include "platform/japanese_texts.h"
#include "tests/db/test_databases.h"

using namespace db;

namespace {

using Clock = std::chrono::steady_clock;

// SQLSTATE 57014 (query_canceled) as the drivers number it, base 36.
constexpr std::int32_t kQueryCanceled = (((5 * 36 + 7) * 36 + 0) * 36 + 1) * 36 + 4;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Expects the time-limit failure from `open` and gives the seconds it took.
template <class Open>
double SecondsToTimeLimit(Open open) {
  const Clock::time_point start = Clock::now();
  try {
    open();
    ADD_FAILURE() << "ran past the time limit";
  } catch (const EDBEngineError& error) {
    EXPECT_EQ(error.Errors().empty() ? 0 : error.Errors().back().NativeError, kQueryCanceled)
        << error.Message();
    EXPECT_NE(error.Message().find(platform::texts::kDbeTimeLimitExceeded), std::string::npos)
        << error.Message();
  }
  return SecondsSince(start);
}

// The statements that the server runs now for this test process's connections, seen
// from a connection of its own.
int RunningStatements() {
  PGconn* connection = PQconnectdb(dbtest::PostgresConnInfo().c_str());
  PGresult* result =
      PQexec(connection, ("SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND "
                          "application_name = '" +
                          dbtest::PostgresApplicationName() + "'")
                             .c_str());
  const int running = PQresultStatus(result) == PGRES_TUPLES_OK
                          ? std::atoi(PQgetvalue(result, 0, 0))
                          : (ADD_FAILURE() << PQerrorMessage(connection), -1);
  PQclear(result);
  PQfinish(connection);
  return running;
}

TEST(PostgresDeadline, StatementsStopOnceTogetherTheyPassTheLimitAndLeaveNoneRunning) {
  if (!dbtest::PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL test server";
  TQuery query("qMaster");
  query.SetDatabaseName("pg_request");  // TIME_LIMIT=1, from the first statement's connection
  const Clock::time_point start = Clock::now();
  // Each 0.4 s, under the server's statement_timeout of 1 s; the third passes the limit.
  int ran = 0;
  const double seconds = SecondsToTimeLimit([&] {
    for (; ran < 10; ++ran) {
      query.SetSqlLines({"SELECT pg_sleep(0.4) AS M, " + std::to_string(ran) + " AS N"});
      query.OpenQuery();
      query.CloseQuery();
    }
  });
  EXPECT_TRUE(ran == 1 || ran == 2) << ran;
  EXPECT_LT(SecondsSince(start), 3.0);
  EXPECT_LT(seconds, 3.0);
  // The connection is gone: later statements fail at once, the same way.
  EXPECT_LT(SecondsToTimeLimit([&] {
              query.SetSqlLines({"SELECT 1 AS M"});
              query.OpenQuery();
            }),
            0.5);
  EXPECT_EQ(RunningStatements(), 0);
}

// A statement still running at the deadline is cancelled on the server there, before
// the server's own statement_timeout (counted from the statement's start) would end it.
TEST(PostgresDeadline, StatementRunningAtTheDeadlineIsCancelledOnTheServer) {
  if (!dbtest::PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL test server";
  TQuery query("qMaster");
  query.SetDatabaseName("pg_request");
  query.SetSqlLines({"SELECT pg_sleep(0.6) AS M"});
  query.OpenQuery();
  query.CloseQuery();
  // 0.4 s of the limit left; statement_timeout would end this one 1 s after its start.
  query.SetSqlLines({"SELECT pg_sleep(30) AS M"});
  EXPECT_LT(SecondsToTimeLimit([&] { query.OpenQuery(); }), 1.0);
  EXPECT_EQ(RunningStatements(), 0);
}

// The session's settings: the server's own limit per statement as a backstop, and no
// JIT compilation, during which a backend heeds no cancel request.
TEST(PostgresDeadline, SessionRunsWithTheLimitAndWithoutJit) {
  if (!dbtest::PostgresAvailable()) GTEST_SKIP() << "no PostgreSQL test server";
  TQuery query("qMaster");
  query.SetDatabaseName("pg");
  query.SetSqlLines(
      {"SELECT current_setting('jit') AS J, current_setting('statement_timeout') AS T"});
  query.OpenQuery();
  EXPECT_EQ(query.FieldText("J"), "off");
  EXPECT_EQ(query.FieldText("T"), "30s");
}

// A server (or a stopped pooler) that takes a connection and never answers: it holds the
// first one for four seconds, then closes it.
class SilentServer {
 public:
  SilentServer() {
    std::filesystem::create_directories(dbtest::SilentServerFolder());
    const std::string path =
        dbtest::SilentServerFolder() + "/.s.PGSQL." + std::to_string(dbtest::kSilentServerPort);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    listening_ = socket(AF_UNIX, SOCK_STREAM, 0);
    unlink(path.c_str());
    EXPECT_EQ(bind(listening_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(listening_, 8), 0);
    thread_ = std::thread([this] {
      pollfd waiting{listening_, POLLIN, 0};
      if (poll(&waiting, 1, 10'000) <= 0) return;
      // Read and left unanswered until the client goes, or for four seconds.
      pollfd accepted{accept(listening_, nullptr, nullptr), POLLIN, 0};
      const Clock::time_point until = Clock::now() + std::chrono::seconds(4);
      char bytes[512];
      while (Clock::now() < until && poll(&accepted, 1, 100) >= 0) {
        if ((accepted.revents & POLLIN) && recv(accepted.fd, bytes, sizeof bytes, 0) <= 0) break;
      }
      close(accepted.fd);
    });
  }
  ~SilentServer() {
    thread_.join();
    close(listening_);
  }

 private:
  int listening_ = -1;
  std::thread thread_;
};

TEST(PostgresDeadline, ConnectingToAServerThatNeverAnswersStopsAtTheLimit) {
  SilentServer server;
  TQuery query("qMaster");
  query.SetDatabaseName("pg_silent");  // TIME_LIMIT=1
  query.SetSqlLines({"SELECT 1 AS M"});
  EXPECT_LT(SecondsToTimeLimit([&] { query.OpenQuery(); }), 3.0);
}

}  // namespace
