#include "tools/postgres_search_index.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

#include "db/postgres/postgres_ranked_tiers.h"
#include "db/postgres/postgres_server_text.h"
#include "matching/sjis_like.h"
#include "platform/sjis.h"
#include "tools/catalog_error.h"

namespace tools {

namespace {

using ResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

// A word whose trigrams a UTF-8 character type finds and a C character type does not.
constexpr const char* kTrigramProbe = "\x97\xb7\x90\x6c\x82\xc6\x89\x77";  // 旅人と駅

ResultPtr Run(PGconn* connection, const std::string& sql) {
  ResultPtr result(PQexec(connection, sql.c_str()), &PQclear);
  ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    std::string message = PQerrorMessage(connection);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    throw ECatalogError("PostgreSQL: " + message);
  }
  return result;
}

// An escape-string literal E'...' of Shift_JIS text: quotes and backslashes escaped
// character by character, so a trail byte 0x5C stays part of its character.
std::string EscapeLiteral(std::string_view text) {
  std::string literal = "E'";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = platform::CharLength(text, i);
    if (length == 1 && (text[i] == '\'' || text[i] == '\\')) literal.push_back('\\');
    literal.append(text.substr(i, length));
    i += length;
  }
  return literal + "'";
}

// Every Shift_JIS character: the single bytes that are characters and every lead and
// trail byte pair.
std::vector<std::string> AllCharacters() {
  std::vector<std::string> characters;
  for (int b = 0x20; b <= 0xDF; ++b) {
    if (b <= 0x7E || b >= 0xA1) characters.push_back(std::string(1, static_cast<char>(b)));
  }
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!platform::IsLeadByte(static_cast<unsigned char>(lead))) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (platform::IsTrailByte(static_cast<unsigned char>(trail)))
        characters.push_back({static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  return characters;
}

}  // namespace

std::string SearchFunctionsSql() {
  // Characters that fold to another, as translate() lists; half-width kana with a mark
  // that joins them, replaced first; characters that fold to a LIKE wildcard or to "\".
  // Hiragana, the characters to fold in most titles, have a table of their own.
  std::string from, to, bracket, hiraganaFrom, hiraganaTo, otherBracket,
      joined = "t", escaped = "replace(p, E'\\\\', E'\\\\\\\\')";
  for (const std::string& c : AllCharacters()) {
    const std::string folded = matching::FoldedText(c);
    if (folded == c) continue;
    from += c;
    to += folded;
    const unsigned char first = c[0];
    const std::string inBracket =
        c.size() == 1 && first < 0x80 && !std::isalnum(first) ? "\\" + c : c;
    bracket += inBracket;
    if (first == 0x82 && static_cast<unsigned char>(c[1]) >= 0x9F) {
      hiraganaFrom += c;
      hiraganaTo += folded;
    } else {
      otherBracket += inBracket;
    }
    if (folded == "%" || folded == "_" || folded == "\\")
      escaped =
          "replace(" + escaped + ", " + EscapeLiteral(c) + ", " + EscapeLiteral("\\" + c) + ")";
  }
  for (int kana = 0xA1; kana <= 0xDF; ++kana) {
    for (int mark : {0xDE, 0xDF}) {
      const std::string pair = {static_cast<char>(kana), static_cast<char>(mark)};
      const std::string folded = matching::FoldedText(pair);
      if (folded == matching::FoldedText(pair.substr(0, 1)) + matching::FoldedText(pair.substr(1)))
        continue;
      joined =
          "replace(" + joined + ", " + EscapeLiteral(pair) + ", " + EscapeLiteral(folded) + ")";
    }
  }
  const std::string fold(db::kFoldFunction), pattern(db::kFoldPatternFunction),
      grams(db::kGramsFunction);
  // The loose mode folds a folded text once more: every character whose loose unit
  // differs from its folded one (a variant kanji, or a separator, which translate()
  // drops as it has no partner) among the characters a folded text can hold.
  std::string looseFrom, looseTo, dropped, looseBracket;
  for (const std::string& c : AllCharacters()) {
    if (matching::FoldedText(c) != c) continue;
    const std::string loose = matching::FoldedText(c, db::MatchMode::kLoose);
    if (loose == c) continue;
    const unsigned char first = c[0];
    looseBracket += c.size() == 1 && !std::isalnum(first) ? "\\" + c : c;
    if (loose.empty()) {
      dropped += c;
    } else {
      looseFrom += c;
      looseTo += loose;
    }
  }
  const std::string looseTranslate =
      "translate(f, " + EscapeLiteral(looseFrom + dropped) + ", " + EscapeLiteral(looseTo) + ")";
  const std::string looseFold(db::kLooseFoldFunction), loosePattern(db::kLooseFoldPatternFunction),
      looseForms(db::kLooseFormsFunction);
  // Plain SQL functions: the planner can see through them, and IMMUTABLE lets an index
  // hold their results. translate() costs the length of its table for every character
  // of the text, so texts without a character to fold (most kanji and katakana texts)
  // skip it, and texts whose only such characters are hiragana use the short table.
  return "CREATE OR REPLACE FUNCTION " + fold +
         "(t text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $body$ SELECT CASE WHEN t "
         "!~ " +
         EscapeLiteral("[" + bracket + "]") + " THEN t WHEN t !~ " +
         EscapeLiteral("[" + otherBracket + "]") + " THEN translate(t, " +
         EscapeLiteral(hiraganaFrom) + ", " + EscapeLiteral(hiraganaTo) + ") ELSE translate(" +
         joined + ", " + EscapeLiteral(from) + ", " + EscapeLiteral(to) + ") END $body$;\n" +
         // The pattern keeps "%" and "_" as wildcards; what folds to one of them, or to
         // the escape character, is escaped after folding.
         "CREATE OR REPLACE FUNCTION " + pattern +
         "(p text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $body$ SELECT " + fold +
         "(" + escaped + ") $body$;\n" +
         // Every character doubled, less the first: "abc" is "abbcc", whose pairs and the
         // last character give "a", "ab", "b", "bc", "c", separated by U+0001 (a U+0001
         // of the text is read as U+0002, as the driver does). The text is used once, so
         // the planner can inline the function even over liraweb_fold(column).
         "CREATE OR REPLACE FUNCTION " + grams +
         "(t text) RETURNS text[] LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $body$ SELECT "
         "string_to_array(regexp_replace(substr(regexp_replace(replace(t, E'\\x01', E'\\x02'), "
         "'(.)', E'\\\\1\\\\1', 'g'), 2), '(.)(.)', E'\\\\1\\x01\\\\1\\\\2\\x01', 'g'), "
         "E'\\x01') $body$;\n" +
         // Loose: the folded text or pattern with the loose forms; texts without such a
         // character skip translate(). Neither a variant nor a separator is a wildcard or
         // the escape character, so the pattern's escapes stay whole.
         "CREATE OR REPLACE FUNCTION " + looseForms +
         "(f text) RETURNS text LANGUAGE sql "
         "IMMUTABLE PARALLEL SAFE AS $body$ SELECT CASE WHEN f !~ " +
         EscapeLiteral("[" + looseBracket + "]") + " THEN f ELSE " + looseTranslate +
         " END $body$;\n" + "CREATE OR REPLACE FUNCTION " + looseFold +
         "(t text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $body$ SELECT " +
         looseForms + "(" + fold + "(t)) $body$;\n" + "CREATE OR REPLACE FUNCTION " + loosePattern +
         "(p text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $body$ SELECT " +
         looseForms + "(" + pattern + "(p)) $body$;\n";
}

void InstallSearchFunctions(PGconn* connection) { Run(connection, SearchFunctionsSql()); }

// The share of rows holding each of the n-gram indexes' most common grams, from the
// statistics ANALYZE has just taken, copied where a search reads it cheaply: the driver
// leaves the n-gram condition out for a word most rows hold, and the statistics view
// takes a new server process milliseconds to plan. Statistics of characters, readable
// by every user. Replaced whole in one transaction.
void KeepGramShares(PGconn* connection) {
  const std::string table(db::kGramSharesTable);
  Run(connection, "CREATE TABLE IF NOT EXISTS " + table +
                      " (index_name text, gram text, share real, PRIMARY KEY (index_name, gram));"
                      "GRANT SELECT ON " +
                      table +
                      " TO PUBLIC;"
                      "DELETE FROM " +
                      table +
                      ";"
                      "INSERT INTO " +
                      table +
                      " SELECT s.tablename, e.gram, e.share FROM pg_stats s, "
                      "unnest(s.most_common_elems::text::text[], s.most_common_elem_freqs) "
                      "AS e(gram, share) WHERE s.schemaname = current_schema() AND "
                      "s.tablename LIKE '" +
                      std::string(db::kGramsFunction) + "\\_%' AND e.gram IS NOT NULL");
}

// A table or column name goes into the statements as it is written, so it must be a
// plain SQL name.
void RequireSqlName(const std::string& name) {
  const bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0])) &&
                     std::all_of(name.begin(), name.end(), [](char c) {
                       return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
                     });
  if (!plain) throw ECatalogError("not a plain SQL name: " + name);
}

// Whether the table has every one of `columns`.
bool HasColumns(PGconn* connection, const std::string& table,
                const std::vector<std::string>& columns) {
  std::string names;
  for (const std::string& column : columns)
    names += (names.empty() ? "lower(" : ", lower(") + EscapeLiteral(column) + ")";
  const ResultPtr found =
      Run(connection,
          "SELECT count(DISTINCT attname) FROM pg_attribute WHERE attrelid = to_regclass(" +
              EscapeLiteral(table) + ") AND attname IN (" + names + ") AND NOT attisdropped");
  return std::string_view(PQgetvalue(found.get(), 0, 0)) == std::to_string(columns.size());
}

// The indexes of the best-match order: over the folded title and author columns, so
// that the books whose title or author equals a word or begins with it are a range
// (their tiers hold few books even for a word most books hold), and over its ties, so
// that the server reads a broad tier's rows newest first and stops after a page instead
// of sorting all of them. Columns the table lacks get none; without the ties' index the
// driver sends the order as one statement, and the searches are the same without them.
void CreateBestMatchIndexes(PGconn* connection, std::ostream& log,
                            const PostgresIndexTarget& target, const std::string& fold) {
  for (const std::string& column : target.rankedColumns) {
    RequireSqlName(column);
    if (!HasColumns(connection, target.table, {column})) continue;
    const std::string name = db::FoldedOrderIndex(column, target.match);
    Run(connection, "CREATE INDEX IF NOT EXISTS " + name + " ON " + target.table + " ((" + fold +
                        "(" + column + ") COLLATE \"C\"))");
    log << "folded order index " << name << "\n";
  }
  for (const std::string& column : target.endingColumns) {
    RequireSqlName(column);
    if (!HasColumns(connection, target.table, {column})) continue;
    const std::string name = db::FoldedEndingIndex(column, target.match);
    Run(connection, "CREATE INDEX IF NOT EXISTS " + name + " ON " + target.table + " ((reverse(" +
                        fold + "(" + column + ")) COLLATE \"C\"))");
    log << "folded ending index " << name << "\n";
  }
  RequireSqlName(target.yearColumn);
  RequireSqlName(target.keyColumn);
  if (!HasColumns(connection, target.table, {target.yearColumn, target.keyColumn})) return;
  const std::string name(db::kRankingOrderIndex);
  Run(connection, "CREATE INDEX IF NOT EXISTS " + name + " ON " + target.table + " (" +
                      target.yearColumn + " DESC NULLS LAST, " + target.keyColumn + ")");
  log << "best-match order index " << name << "\n";
}

void CreateSearchIndexes(PGconn* connection, std::ostream& log, const PostgresIndexTarget& target) {
  const std::string& table = target.table;
  RequireSqlName(table);
  for (const std::string& column : target.columns) RequireSqlName(column);
  InstallSearchFunctions(connection);
  const bool loose = target.match == db::MatchMode::kLoose;
  const std::string fold(loose ? db::kLooseFoldFunction : db::kFoldFunction),
      grams(db::kGramsFunction), suffix(loose ? db::kLooseIndexSuffix : "");
  Run(connection, "SET client_min_messages = warning");
  // Named after the column alone: the searches look up the statistics of
  // liraweb_grams_<column>.
  for (const std::string& column : target.columns) {
    const std::string name = "liraweb_grams_" + column + suffix;
    Run(connection, "CREATE INDEX IF NOT EXISTS " + name + " ON " + table + " USING gin (" + grams +
                        "(" + fold + "(" + column + ")))");
    log << "n-gram index " << name << "\n";
  }
  PQclear(PQexec(connection, "CREATE EXTENSION IF NOT EXISTS pg_trgm"));
  ResultPtr probe(PQexec(connection, ("SELECT show_trgm('" + std::string(kTrigramProbe) +
                                      "') <> '{}', "
                                      "current_setting('lc_ctype')")
                                         .c_str()),
                  &PQclear);
  if (PQresultStatus(probe.get()) != PGRES_TUPLES_OK) {
    log << "no trigram indexes: the pg_trgm extension is not available in this database "
           "(install postgresql-contrib and CREATE EXTENSION pg_trgm as its owner); words of "
           "three or more characters are answered from the n-gram indexes\n";
  } else if (std::string_view(PQgetvalue(probe.get(), 0, 0)) != "t") {
    log << "no trigram indexes: the database's character type (LC_CTYPE "
        << PQgetvalue(probe.get(), 0, 1)
        << ") finds no trigrams in Japanese text, so such an index would only slow searches "
           "down; create the database with LC_CTYPE 'C.UTF-8' to have them. Words of three or "
           "more characters are answered from the n-gram indexes\n";
  } else {
    for (const std::string& column : target.columns) {
      const std::string name = "liraweb_trgm_" + column + suffix;
      Run(connection, "CREATE INDEX IF NOT EXISTS " + name + " ON " + table + " USING gin (" +
                          fold + "(" + column + ") gin_trgm_ops)");
      log << "trigram index " << name << "\n";
    }
  }
  CreateBestMatchIndexes(connection, log, target, fold);
  Run(connection, "ANALYZE " + table);
  KeepGramShares(connection);
}

void DropSearchIndexes(PGconn* connection, std::ostream& log, const PostgresIndexTarget& target) {
  const std::string suffix(target.match == db::MatchMode::kLoose ? db::kLooseIndexSuffix : "");
  std::vector<std::string> names;
  for (const std::string& column : target.columns) {
    RequireSqlName(column);
    names.push_back("liraweb_grams_" + column + suffix);
    names.push_back("liraweb_trgm_" + column + suffix);
  }
  for (const std::string& column : target.rankedColumns) {
    RequireSqlName(column);
    names.push_back(db::FoldedOrderIndex(column, target.match));
  }
  for (const std::string& column : target.endingColumns) {
    RequireSqlName(column);
    names.push_back(db::FoldedEndingIndex(column, target.match));
  }
  names.emplace_back(db::kRankingOrderIndex);
  Run(connection, "SET client_min_messages = warning");
  for (const std::string& name : names) {
    const ResultPtr found = Run(connection, "SELECT to_regclass(" + EscapeLiteral(name) + ")");
    if (PQgetisnull(found.get(), 0, 0)) continue;
    Run(connection, "DROP INDEX " + name);
    log << "dropped index " << name << "\n";
  }
}

namespace {

std::unique_ptr<PGconn, decltype(&PQfinish)> SjisConnection(const std::string& conninfo) {
  std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(conninfo.c_str()), &PQfinish);
  if (PQstatus(connection.get()) != CONNECTION_OK ||
      PQsetClientEncoding(connection.get(), "SJIS") != 0) {
    throw ECatalogError("PostgreSQL: cannot connect with client_encoding SJIS: " +
                        std::string(PQerrorMessage(connection.get())));
  }
  return connection;
}

}  // namespace

void IndexPostgresCatalogue(const std::string& conninfo, bool indexes, std::ostream& log,
                            const PostgresIndexTarget& target) {
  const auto connection = SjisConnection(conninfo);
  if (indexes)
    CreateSearchIndexes(connection.get(), log, target);
  else
    InstallSearchFunctions(connection.get());
}

void DropPostgresIndexes(const std::string& conninfo, std::ostream& log,
                         const PostgresIndexTarget& target) {
  DropSearchIndexes(SjisConnection(conninfo).get(), log, target);
}

}  // namespace tools
