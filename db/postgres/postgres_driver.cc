// The PostgreSQL driver, built as the plug-in module libdbengine_pg.so so that libpq
// is loaded only by a process that opens a PostgreSQL alias. The connection speaks
// Shift_JIS (client_encoding SJIS): the server stores UTF-8 and the program still sees
// its own bytes. Results are read through a server-side cursor in batches, so no
// result is ever held whole.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

#include "db/engine_codes.h"
#include "db/postgres/postgres_plugin.h"
#include "db/postgres/postgres_server_text.h"
#include "platform/japanese_texts.h"
#include "platform/sjis.h"

namespace db {

namespace {

// Rows fetched from the server cursor at a time: a first page's worth, then more, so
// that a first result page does not make the server find and send hundreds of rows.
constexpr int kFirstFetchBatch = 50, kFetchBatch = 500;

// Type oids of the columns read as numbers or text.
constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701;
constexpr Oid kTextTypes[] = {18, 19, 25, 705, 1042, 1043};

struct ResultCloser {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultCloser>;

// A SQLSTATE (five digits or capital letters) as a number, the server's native code.
std::int32_t SqlStateCode(const char* state) {
  std::int32_t code = 0;
  for (int i = 0; state && state[i] && i < 5; ++i) {
    char c = state[i];
    code = code * 36 + (c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'Z' ? c - 'A' + 10 : 0);
  }
  return code;
}

[[noreturn]] void Fail(PGconn* connection, const PGresult* result, std::uint16_t code = kErrSql) {
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

// A command of a pipeline: a call of one of libpq's PQsend functions.
using Send = std::function<int(PGconn*)>;

// A text with $n parameters, all sent as text of a type the server infers.
Send Query(std::string text, std::vector<std::string> params = {}) {
  return [text = std::move(text), params = std::move(params)](PGconn* connection) {
    std::vector<const char*> values;
    for (const std::string& param : params) values.push_back(param.c_str());
    return PQsendQueryParams(connection, text.c_str(), static_cast<int>(values.size()), nullptr,
                             values.data(), nullptr, nullptr, 0);
  };
}

using Clock = std::chrono::steady_clock;

// The time-limit failure, as the server's own cancelling of a statement is numbered.
[[noreturn]] void FailOutOfTime(std::uint16_t code) {
  throw DriverError{
      code, {{code, SqlStateCode("57014"), std::string(platform::texts::kDbeTimeLimitExceeded)}}};
}

// Waits until `socket` is ready for one of `events` (poll flags) and gives the flags that
// are; nullopt when the deadline (if any) comes first. Throws `code` when poll() fails.
std::optional<short> AwaitSocket(int socket, short events,
                                 const std::optional<Clock::time_point>& deadline,
                                 std::uint16_t code) {
  pollfd watched{socket, events, 0};
  while (true) {
    int wait = -1;
    if (deadline) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return std::nullopt;
      wait = static_cast<int>(std::min<long long>(left, 60'000));
    }
    const int ready = poll(&watched, 1, wait);
    if (ready > 0) return watched.revents;
    if (ready < 0 && errno != EINTR) throw DriverError{code, {{code, errno, std::strerror(errno)}}};
  }
}

// How long a cancel request may take to reach the server before the connection is
// dropped anyway: libpq waits for the server's (or a stopped pooler's) answer without a
// limit, so the request is sent from a thread of its own that is not waited for longer.
constexpr std::chrono::milliseconds kCancelWait{300};

// Asks the server to cancel the command running on the connection.
void CancelRunning(PGconn* connection) {
  PGcancel* cancel = PQgetCancel(connection);
  if (!cancel) return;
  auto sent = std::make_shared<std::promise<void>>();
  std::future<void> done = sent->get_future();
  std::thread([cancel, sent] {
    char error[256];
    PQcancel(cancel, error, sizeof error);  // unsent, the server's statement_timeout ends it
    PQfreeCancel(cancel);
    sent->set_value();
  }).detach();
  done.wait_for(kCancelWait);
}

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

  std::string NewName(const char* kind) {
    return "dbengine_" + std::string(kind) + std::to_string(++NamesGiven);
  }

  // Runs a command (or several separated by ";") without parameters and checks each;
  // gives the last one's result.
  Result Run(const std::string& command) {
    return Exchange(
        [&command](PGconn* connection) { return PQsendQuery(connection, command.c_str()); });
  }

  // Sends a command (`send`, not in a pipeline) and checks each of its results; gives
  // the last.
  Result Exchange(const Send& send) {
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

  // Runs a command whose failure leaves nothing to mend (the release of a statement, the
  // end of a read-only transaction, which the server rolls back when the connection ends).
  void RunUnchecked(const std::string& command) noexcept {
    try {
      Run(command);
    } catch (const DriverError&) {
    }
  }

  // Sends the commands together and waits for their results once: one exchange with the
  // server instead of one a command, which counts through a connection pooler. The
  // server skips the commands after a failed one; the failure is that command's own.
  std::vector<Result> RunTogether(const std::vector<Send>& commands) {
    StartExchange();
    if (!PQenterPipelineMode(Connection)) Fail(Connection, nullptr);
    for (const Send& send : commands) {
      if (!send(Connection)) Fail(Connection, nullptr);
    }
    if (!PQpipelineSync(Connection)) Fail(Connection, nullptr);
    Flush();
    std::vector<Result> results;
    for (std::size_t i = 0; i < commands.size(); ++i) {
      results.push_back(NextResult());
      if (!results.back()) Fail(Connection, nullptr);
      while (NextResult()) {
      }  // up to the command's end
    }
    Result sync = NextResult();
    const bool left = PQexitPipelineMode(Connection) == 1;
    for (const Result& result : results) FailUnlessDone(Connection, result.get());
    // A connection left in pipeline mode would refuse every later command.
    if (!left) Fail(Connection, nullptr);
    return results;
  }

 private:
  // Before a command is sent: the connection is there and the deadline has not passed.
  // This also bounds the time the program itself spent on the statement's text.
  void StartExchange() {
    if (!Connection || (Deadline && Clock::now() >= *Deadline)) OutOfTime();
  }

  short Await(short events) {
    const std::optional<short> ready = AwaitSocket(PQsocket(Connection), events, Deadline, kErrSql);
    if (!ready) OutOfTime();
    return *ready;
  }

  // Sends what libpq holds for the server (the connection does not block).
  void Flush() {
    while (true) {
      const int unsent = PQflush(Connection);
      if (unsent == 0) return;
      if (unsent < 0) Fail(Connection, nullptr);
      // The server may answer while it still reads: read it, so that it goes on reading.
      if ((Await(POLLIN | POLLOUT) & POLLIN) && !PQconsumeInput(Connection))
        Fail(Connection, nullptr);
    }
  }

  // The next result of the command being answered, null at its end.
  Result NextResult() {
    while (PQisBusy(Connection)) {
      Await(POLLIN);
      if (!PQconsumeInput(Connection)) Fail(Connection, nullptr);
    }
    return Result(PQgetResult(Connection));
  }

  // The deadline has passed: the server is asked to stop the running statement, which
  // must not go on without its client, the connection is closed, and the request ends
  // with the time-limit failure.
  [[noreturn]] void OutOfTime() {
    if (Connection) {
      if (PQtransactionStatus(Connection) == PQTRANS_ACTIVE) CancelRunning(Connection);
      PQfinish(Connection);
      Connection = nullptr;
    }
    FailOutOfTime(kErrSql);
  }
};

ColumnValue::Kind KindOf(Oid type) {
  if (type == kInt2 || type == kInt4 || type == kInt8) return ColumnValue::Kind::kInteger;
  if (type == kFloat4 || type == kFloat8) return ColumnValue::Kind::kFloat;
  for (Oid text : kTextTypes) {
    if (type == text) return ColumnValue::Kind::kText;
  }
  return ColumnValue::Kind::kOther;
}

class PostgresCursor : public Cursor {
 public:
  PostgresCursor(std::shared_ptr<Session> session, std::string text,
                 std::vector<std::string> params)
      : session_(std::move(session)),
        text_(std::move(text)),
        params_(std::move(params)),
        name_(session_->NewName("c")) {
    std::vector<Send> opening;
    if (session_->OpenCursors == 0)
      opening.push_back(Query("BEGIN ISOLATION LEVEL REPEATABLE READ"));
    ++session_->OpenCursors;
    try {
      opening.push_back(Query("DECLARE " + name_ + " NO SCROLL CURSOR FOR " + text_, params_));
      opening.push_back(Query(FetchText(kFirstFetchBatch)));
      batch_ = std::move(session_->RunTogether(opening).back());
      batchSize_ = kFirstFetchBatch;
      for (int i = 0; i < PQnfields(batch_.get()); ++i) {
        columnNames_.emplace_back(PQfname(batch_.get(), i));
        kinds_.push_back(KindOf(PQftype(batch_.get(), i)));
      }
      row_.resize(columnNames_.size());
      emptyResult_ = PQntuples(batch_.get()) == 0;
      Next();
    } catch (...) {
      EndTransaction();
      throw;
    }
  }

  // Closing the last cursor ends the transaction; COMMIT also closes the cursor. A
  // failure here leaves nothing to mend: an aborted transaction is rolled back by it.
  ~PostgresCursor() override { EndTransaction(); }

  const std::vector<std::string>& ColumnNames() const override { return columnNames_; }
  bool OnRow() const override { return onRow_; }
  const std::vector<ColumnValue>& Row() const override { return row_; }

  bool Next() override {
    if (batchRow_ == PQntuples(batch_.get())) {
      if (PQntuples(batch_.get()) < batchSize_) return onRow_ = false;
      FetchBatch(kFetchBatch);
      if (PQntuples(batch_.get()) == 0) return onRow_ = false;
    }
    ReadRow(batchRow_++);
    return onRow_ = true;
  }

  // COUNT(*) over the statement as a subquery, in the cursor's own snapshot.
  std::int64_t CountRows() override {
    if (emptyResult_) return 0;
    Result counted =
        Guarded({Query("SELECT COUNT(*) FROM (" + text_ + "\n) AS dbengine_count", params_)});
    return std::strtoll(PQgetvalue(counted.get(), 0, 0), nullptr, 10);
  }

  // A second cursor moved over the whole result: the server counts without sending rows.
  std::int64_t CountRowsByStepping() override {
    if (emptyResult_) return 0;
    const std::string other = session_->NewName("n");
    Result moved = Guarded({Query("DECLARE " + other + " NO SCROLL CURSOR FOR " + text_, params_),
                            Query("MOVE FORWARD ALL IN " + other), Query("CLOSE " + other)},
                           1);
    return std::strtoll(PQcmdTuples(moved.get()), nullptr, 10);
  }

 private:
  // Runs the commands of a count inside a savepoint, so that their failure leaves the
  // transaction and this cursor usable; gives the result of the command `answering`.
  Result Guarded(std::vector<Send> commands, std::size_t answering = 0) {
    commands.insert(commands.begin(), Query("SAVEPOINT dbengine_count"));
    commands.push_back(Query("RELEASE SAVEPOINT dbengine_count"));
    try {
      return std::move(session_->RunTogether(commands)[answering + 1]);
    } catch (const DriverError&) {
      session_->RunUnchecked("ROLLBACK TO SAVEPOINT dbengine_count");
      throw;
    }
  }

  std::string FetchText(int size) const {
    return "FETCH FORWARD " + std::to_string(size) + " FROM " + name_;
  }

  void FetchBatch(int size) {
    batch_ = session_->Run(FetchText(size));
    batchSize_ = size;
    batchRow_ = 0;
  }

  void ReadRow(int rowIndex) {
    for (int i = 0; i < static_cast<int>(row_.size()); ++i) {
      ColumnValue& value = row_[i];
      if (PQgetisnull(batch_.get(), rowIndex, i)) {
        value.ValueKind = ColumnValue::Kind::kNull;
        continue;
      }
      const char* text = PQgetvalue(batch_.get(), rowIndex, i);
      value.ValueKind = kinds_[i];
      if (kinds_[i] == ColumnValue::Kind::kInteger) {
        value.Integer = std::strtoll(text, nullptr, 10);
      } else if (kinds_[i] == ColumnValue::Kind::kFloat) {
        value.Float = std::strtod(text, nullptr);
      } else {
        value.Text.assign(text, PQgetlength(batch_.get(), rowIndex, i));
      }
    }
  }

  void EndTransaction() {
    if (--session_->OpenCursors == 0) session_->RunUnchecked("COMMIT");
  }

  std::shared_ptr<Session> session_;
  std::string text_;
  std::vector<std::string> params_;
  std::string name_;
  Result batch_;
  int batchSize_ = 0;
  int batchRow_ = 0;
  std::vector<std::string> columnNames_;
  std::vector<ColumnValue::Kind> kinds_;
  std::vector<ColumnValue> row_;
  bool onRow_ = false;
  bool emptyResult_ = false;
};

// How the session compares the LIKE of `sql`. Folded and loose matching without the
// server's functions would compare exactly while the program, having folded and
// rewritten the search text for the mode, expects folding: books that are there would not
// be found, so a database without them is a failure that names the tool installing them.
MatchMode LikeMatch(Session& session, std::string_view sql) {
  if (session.Match == MatchMode::kExact || session.FoldingChecked) return session.Match;
  std::string upper(sql);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("LIKE") == std::string::npos) return session.Match;
  const bool loose = session.Match == MatchMode::kLoose;
  const std::string function(loose ? kLooseFoldPatternFunction : kFoldPatternFunction);
  const std::string shares(kGramSharesTable);
  Result installed = session.Run("SELECT to_regprocedure('" + function +
                                 "(text)') IS NOT NULL, CASE WHEN to_regclass('" + shares +
                                 "') IS NULL THEN false ELSE has_table_privilege(to_regclass('" +
                                 shares + "'), 'SELECT') END");
  if (std::string_view(PQgetvalue(installed.get(), 0, 0)) != "t") {
    const std::string message =
        "MATCH=" + std::string(loose ? "LOOSE" : "FOLDED") + " needs the search function " +
        function + "(text), which this database lacks: install it with catalog_index build " +
        "--postgres CONNINFO" + (loose ? " --match loose" : "");
    throw DriverError{kErrSql, {{kErrSql, SqlStateCode("42883"), message}}};
  }
  session.FoldingChecked = true;
  session.GramSharesKept = std::string_view(PQgetvalue(installed.get(), 0, 1)) == "t";
  return session.Match;
}

// Above this share of the rows a word is held by, its n-gram condition is left out.
constexpr double kBroadShare = 0.125;

// True when every gram of the word is one character: only such words are held by a good
// share of a catalogue's rows (a kana, a particle), and asking costs a request time.
bool OneCharacterGrams(const NarrowableWord& word) {
  for (const std::string& gram : word.grams) {
    if (gram.empty() || platform::CharLength(gram, 0) != gram.size()) return false;
  }
  return true;
}

// For each word, whether the statistics the server keeps on the column's n-gram index
// (made by the catalogue tools as liraweb_grams_<column>, and ..._loose2 for the loose
// mode) give every gram of the word
// to more than kBroadShare of the rows: the tools' copy of them when it is there,
// otherwise the statistics view. Only words of one-character grams are asked about; a
// column without such an index or statistics has no broad words. Answers are kept for
// the session's later statements.
std::vector<bool> BroadWords(Session& session, const std::vector<NarrowableWord>& words) {
  // The loose mode's indexes are those over the loose folding, named "..._loose2".
  const std::string suffix(session.Match == MatchMode::kLoose ? kLooseIndexSuffix : "");
  auto indexName = [suffix](const NarrowableWord& word) {
    std::string column = word.column.substr(word.column.rfind('.') + 1);
    for (char& c : column) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::string(kGramsFunction) + "_" + column + suffix;
  };
  auto key = [&indexName](const NarrowableWord& word) {
    std::string text = indexName(word);
    for (const std::string& gram : word.grams) text += '\x01' + gram;
    return text;
  };
  std::string names, grams;
  std::vector<const NarrowableWord*> asked;
  for (const NarrowableWord& word : words) {
    if (!OneCharacterGrams(word) || session.BroadWords.count(key(word))) continue;
    session.BroadWords[key(word)] = false;
    asked.push_back(&word);
    names += (names.empty() ? "" : ",") + QuotedLiteral(indexName(word));
    for (const std::string& gram : word.grams)
      grams += (grams.empty() ? "" : ",") + QuotedLiteral(gram);
  }
  if (!asked.empty()) {
    // The share of rows holding each gram, by index; a gram below the statistics' most
    // common elements is rare.
    Result shares =
        session.Run(session.GramSharesKept
                        ? "SELECT index_name, gram, share FROM " + std::string(kGramSharesTable) +
                              " WHERE index_name IN (" + names + ") AND gram = ANY (ARRAY[" +
                              grams + "]::text[])"
                        : "SELECT s.tablename, g, s.most_common_elem_freqs[array_position("
                          "s.most_common_elems::text::text[], g)] FROM pg_stats s, unnest(ARRAY[" +
                              grams +
                              "]::text[]) AS g WHERE s.schemaname = current_schema() AND "
                              "s.tablename IN (" +
                              names + ")");
    std::map<std::string, double> share;  // by index name and gram
    for (int row = 0; row < PQntuples(shares.get()); ++row) {
      const char* value = PQgetvalue(shares.get(), row, 2);
      share[std::string(PQgetvalue(shares.get(), row, 0)) + '\x01' +
            PQgetvalue(shares.get(), row, 1)] =
          PQgetisnull(shares.get(), row, 2) ? 0 : std::atof(value);
    }
    for (const NarrowableWord* word : asked) {
      bool broad = !word->grams.empty();
      for (const std::string& gram : word->grams) {
        auto found = share.find(indexName(*word) + '\x01' + gram);
        broad = broad && found != share.end() && found->second > kBroadShare;
      }
      session.BroadWords[key(*word)] = broad;
    }
  }
  std::vector<bool> broad;
  for (const NarrowableWord& word : words) broad.push_back(session.BroadWords[key(word)]);
  return broad;
}

// The server text of a statement. Folded and loose matching write words over the stored
// text and leave out the n-gram conditions of words most rows hold.
std::string SessionServerText(Session& session, std::string_view sql) {
  const MatchMode mode = LikeMatch(session, sql);
  if (mode == MatchMode::kExact) return ServerText(sql, mode, FoldedWords::kStoredForms);
  std::vector<NarrowableWord> words;
  ServerText(sql, mode, FoldedWords::kStoredForms, [&words](const NarrowableWord& word) {
    words.push_back(word);
    return true;
  });
  if (words.empty()) return ServerText(sql, mode, FoldedWords::kStoredForms);
  const std::vector<bool> broad = BroadWords(session, words);
  std::size_t next = 0;
  return ServerText(sql, mode, FoldedWords::kStoredForms,
                    [&broad, &next](const NarrowableWord&) { return !broad[next++]; });
}

class PostgresStatement : public Statement {
 public:
  PostgresStatement(std::shared_ptr<Session> session, std::string_view sql)
      : session_(std::move(session)),
        text_(SessionServerText(*session_, sql)),
        name_(session_->NewName("s")) {
    const std::vector<Result> results = session_->RunTogether(
        {[this](PGconn* connection) {
           return PQsendPrepare(connection, name_.c_str(), text_.c_str(), 0, nullptr);
         },
         [this](PGconn* connection) { return PQsendDescribePrepared(connection, name_.c_str()); }});
    givesRows_ = PQnfields(results[1].get()) > 0;
  }

  ~PostgresStatement() override { session_->RunUnchecked("DEALLOCATE " + name_); }

  std::unique_ptr<Cursor> Execute(const std::vector<std::string>& params) override {
    if (givesRows_) return std::make_unique<PostgresCursor>(session_, text_, params);
    session_->Exchange([this, &params](PGconn* connection) {
      std::vector<const char*> values;
      for (const std::string& param : params) values.push_back(param.c_str());
      return PQsendQueryPrepared(connection, name_.c_str(), static_cast<int>(values.size()),
                                 values.data(), nullptr, nullptr, 0);
    });
    return nullptr;
  }

 private:
  std::shared_ptr<Session> session_;
  std::string text_;
  std::string name_;
  bool givesRows_ = false;
};

class PostgresDatabase : public Database {
 public:
  explicit PostgresDatabase(std::shared_ptr<Session> session) : session_(std::move(session)) {}

  std::unique_ptr<Statement> Prepare(std::string_view sql) override {
    return std::make_unique<PostgresStatement>(session_, sql);
  }

 private:
  std::shared_ptr<Session> session_;
};

}  // namespace

}  // namespace db

namespace db {
namespace {

// Connects, and with a deadline waits for the server only until it: libpq's own wait
// would not end while a server or a pooler in front of it accepts the connection and
// never answers.
PGconn* Connect(const char* const* keywords, const char* const* values,
                const std::optional<Clock::time_point>& deadline) {
  if (!deadline) return PQconnectdbParams(keywords, values, 0);
  std::unique_ptr<PGconn, void (*)(PGconn*)> connection(
      PQconnectStartParams(keywords, values, 0), PQfinish);
  // Before the first poll libpq waits to write, as the socket is being connected.
  PostgresPollingStatusType polled = PGRES_POLLING_WRITING;
  while (connection && PQstatus(connection.get()) != CONNECTION_BAD &&
         polled != PGRES_POLLING_OK && polled != PGRES_POLLING_FAILED) {
    if (!AwaitSocket(PQsocket(connection.get()),
                     polled == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline, kErrCannotOpen))
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
}  // namespace db

extern "C" db::Database* dbengine_pg_open(const char* connInfo, db::MatchMode match,
                                          int timeLimitSeconds) {
  using namespace db;
  std::optional<Clock::time_point> deadline;
  if (timeLimitSeconds > 0) deadline = Clock::now() + std::chrono::seconds(timeLimitSeconds);
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
  return new PostgresDatabase(std::move(session));
}

static_assert(std::is_same_v<decltype(dbengine_pg_open), db::PostgresOpenFunction>);
