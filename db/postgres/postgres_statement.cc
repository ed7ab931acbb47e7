#include "db/postgres/postgres_statement.h"

#include <cctype>

#include "db/postgres/postgres_broad_words.h"
#include "db/postgres/postgres_cursor.h"
#include "db/postgres/postgres_server_text.h"

namespace db::postgres {

namespace {

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

}  // namespace

PostgresStatement::PostgresStatement(std::shared_ptr<Session> session, std::string_view sql)
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

PostgresStatement::~PostgresStatement() { session_->RunUnchecked("DEALLOCATE " + name_); }

std::unique_ptr<Cursor> PostgresStatement::Execute(const std::vector<std::string>& params) {
  if (givesRows_) return std::make_unique<PostgresCursor>(session_, text_, params);
  session_->Exchange([this, &params](PGconn* connection) {
    std::vector<const char*> values;
    for (const std::string& param : params) values.push_back(param.c_str());
    return PQsendQueryPrepared(connection, name_.c_str(), static_cast<int>(values.size()),
                               values.data(), nullptr, nullptr, 0);
  });
  return nullptr;
}

}  // namespace db::postgres
