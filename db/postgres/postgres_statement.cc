#include "db/postgres/postgres_statement.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "db/postgres/postgres_broad_words.h"
#include "db/postgres/postgres_cursor.h"
#include "db/postgres/postgres_ranked_tiers.h"
#include "db/postgres/postgres_server_text.h"
#include "db/postgres/postgres_tiered_cursor.h"

namespace db::postgres {

namespace {

// The question that lists the indexes of the best-match order the session's database
// has, their names joined by commas (none holds one).
std::string BestMatchIndexQuestion() {
  return "SELECT string_agg(relname::text, ',') FROM pg_class WHERE relkind = 'i' AND "
         "(relname = '" +
         std::string(kRankingOrderIndex) +
         "' OR relname LIKE 'liraweb\\_folded\\_%') AND pg_table_is_visible(oid)";
}

// Keeps the answer of BestMatchIndexQuestion (NULL when there is none) as the session's.
void KeepBestMatchIndexes(Session& session, const PGresult* answer, int column) {
  std::set<std::string> names;
  if (!PQgetisnull(answer, 0, column)) {
    const std::string_view joined = PQgetvalue(answer, 0, column);
    for (std::size_t at = 0; at <= joined.size();) {
      const std::size_t comma = std::min(joined.find(',', at), joined.size());
      names.emplace(joined.substr(at, comma - at));
      at = comma + 1;
    }
  }
  session.BestMatchIndexes = std::move(names);
}

// How the session compares the LIKE of `sql`. Folded and loose matching without the
// server's functions would compare exactly while the program, having folded and
// rewritten the search text for the mode, expects folding: books that are there would not
// be found, so a database without them is a failure that names the tool installing them.
// For a statement of the best-match order (`ranked`) the same question lists the
// indexes of that order, which saves the request an exchange.
MatchMode LikeMatch(Session& session, std::string_view sql, bool ranked) {
  if (session.Match == MatchMode::kExact || session.FoldingChecked) return session.Match;
  std::string upper(sql);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("LIKE") == std::string::npos) return session.Match;
  const bool loose = session.Match == MatchMode::kLoose;
  const std::string function(loose ? kLooseFoldPatternFunction : kFoldPatternFunction);
  const std::string shares(kGramSharesTable);
  const bool askIndexes = ranked && !session.BestMatchIndexes;
  Result installed = session.Run(
      "SELECT to_regprocedure('" + function + "(text)') IS NOT NULL, CASE WHEN to_regclass('" +
      shares + "') IS NULL THEN false ELSE has_table_privilege(to_regclass('" + shares +
      "'), 'SELECT') END" + (askIndexes ? ", (" + BestMatchIndexQuestion() + ")" : ""));
  if (std::string_view(PQgetvalue(installed.get(), 0, 0)) != "t") {
    const std::string message =
        "MATCH=" + std::string(loose ? "LOOSE" : "FOLDED") + " needs the search function " +
        function + "(text), which this database lacks: install it with catalog_index build " +
        "--postgres CONNINFO" + (loose ? " --match loose" : "");
    throw DriverError{kErrSql, {{kErrSql, SqlStateCode("42883"), message}}};
  }
  session.FoldingChecked = true;
  session.GramSharesKept = std::string_view(PQgetvalue(installed.get(), 0, 1)) == "t";
  if (askIndexes) KeepBestMatchIndexes(session, installed.get(), 2);
  return session.Match;
}

// The indexes of the best-match order that the session's database has, by name.
const std::set<std::string>& BestMatchIndexes(Session& session) {
  if (!session.BestMatchIndexes) {
    Result found = session.Run(BestMatchIndexQuestion());
    KeepBestMatchIndexes(session, found.get(), 0);
  }
  return *session.BestMatchIndexes;
}

// The text the server runs for a statement, and the statements of its tiers when it is
// read tier by tier.
struct ServerStatement {
  std::string text;
  std::vector<std::string> tierTexts;
};

// The server text of a statement. Folded and loose matching write words over the stored
// text and leave out the n-gram conditions of words most rows hold. A best-match order
// is read tier by tier when the database has the index of its ties: a tier of a word
// most books hold is then read in that order and stops after the page, and an anchored
// tier gets the folded range of its condition beside it, which the folded B-trees
// answer, so that a tier with few rows is found without reading the table. Without that
// index (or under exact matching, which those B-trees do not serve) the statement is
// sent whole, as it was.
ServerStatement SessionServerText(Session& session, std::string_view sql) {
  const bool ranked = !RankedTierTexts(sql).empty();
  const MatchMode mode = LikeMatch(session, sql, ranked);
  if (mode == MatchMode::kExact) return {ServerText(sql, mode, FoldedWords::kStoredForms), {}};
  std::vector<NarrowableWord> words;
  std::string text =
      ServerText(sql, mode, FoldedWords::kStoredForms, [&words](const NarrowableWord& word) {
        words.push_back(word);
        return true;
      });
  if (!words.empty()) {
    const std::vector<bool> broad = BroadWords(session, words);
    std::size_t next = 0;
    text = ServerText(sql, mode, FoldedWords::kStoredForms,
                      [&broad, &next](const NarrowableWord&) { return !broad[next++]; });
  }
  if (!ranked || BestMatchIndexes(session).count(std::string(kRankingOrderIndex)) == 0)
    return {std::move(text), {}};
  const std::set<std::string>& indexes = *session.BestMatchIndexes;
  std::vector<std::string> tierTexts =
      RankedTierTexts(sql, text, mode,
                      [&indexes, mode](const std::string& column, FoldedIndexKind kind) {
                        const std::size_t dot = column.find('.');
                        const std::string bare =
                            dot == std::string::npos ? column : column.substr(dot + 1);
                        return indexes.count(kind == FoldedIndexKind::kEnding
                                                 ? FoldedEndingIndex(bare, mode)
                                                 : FoldedOrderIndex(bare, mode)) > 0;
                      });
  return {std::move(text), std::move(tierTexts)};
}

}  // namespace

PostgresStatement::PostgresStatement(std::shared_ptr<Session> session, std::string_view sql)
    : session_(std::move(session)), name_(session_->NewName("s")) {
  ServerStatement server = SessionServerText(*session_, sql);
  text_ = std::move(server.text);
  tierTexts_ = std::move(server.tierTexts);
  const std::vector<Result> results = session_->RunTogether(
      {[this](PGconn* connection) {
         return PQsendPrepare(connection, name_.c_str(), text_.c_str(), 0, nullptr);
       },
       [this](PGconn* connection) { return PQsendDescribePrepared(connection, name_.c_str()); }});
  givesRows_ = PQnfields(results[1].get()) > 0;
}

PostgresStatement::~PostgresStatement() { session_->RunUnchecked("DEALLOCATE " + name_); }

std::unique_ptr<Cursor> PostgresStatement::Execute(const std::vector<std::string>& params) {
  if (givesRows_ && tierTexts_.size() > 1)
    return std::make_unique<TieredCursor>(session_, text_, tierTexts_, params);
  // Ordered by year and key alone: the tier's text says it so that an index can give it.
  if (givesRows_)
    return std::make_unique<PostgresCursor>(session_, tierTexts_.empty() ? text_ : tierTexts_[0],
                                            params);
  session_->Exchange([this, &params](PGconn* connection) {
    std::vector<const char*> values;
    for (const std::string& param : params) values.push_back(param.c_str());
    return PQsendQueryPrepared(connection, name_.c_str(), static_cast<int>(values.size()),
                               values.data(), nullptr, nullptr, 0);
  });
  return nullptr;
}

}  // namespace db::postgres
