// The server's folding against the SQLite driver's, its reference: every Shift_JIS
// character, random texts and random LIKE patterns; and the search indexes: used by the
// planner for the driver's statements, with the same rows as without them.
#include "tools/postgres_search_index.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "db/postgres/postgres_ranked_tiers.h"
#include "db/postgres/postgres_server_text.h"
#include "db/query.h"
#include "matching/sjis_like.h"
#include "platform/request_end.h"
#include "platform/sjis.h"
#include "tests/support/files.h"
#include "tests/support/folding_texts.h"
#include "tests/support/postgres_test_server.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tools_test_support.h"
#include "tools/catalog_load.h"
#include "tools/postgres_catalog_store.h"
#include "tools/synthetic_catalogue.h"
#include "tools/text_encoding.h"

using namespace db;
using namespace tools;

namespace {

using db::MatchMode;
using matching::FoldedText;
using test_support::ArrayLiteral;
using test_support::FoldingAlphabet;
using test_support::Joined;
using test_support::LooseFoldingAlphabet;
using test_support::RandomCharacters;
using test_support::RandomText;

using Server = test_support::PostgresTestServer;

// Every character the server can hold, one at a time: the server gives back the
// character as it stores it (the duplicates of the vendor areas come back as one of
// them) and its folding by `function`; the C++ folding in `mode` of what it stores must
// be that folding. Answers how many characters fold to something else.
int CompareEveryCharacter(Server& server, const std::string& function, MatchMode mode) {
  int compared = 0, folded = 0;
  for (int lead = 0; lead <= 0xFC; ++lead) {
    for (int trail = 0x20; trail <= 0xFC; ++trail) {
      std::string c = lead == 0 ? std::string(1, static_cast<char>(trail))
                                : std::string{static_cast<char>(lead), static_cast<char>(trail)};
      if (lead != 0 && (!platform::IsLeadByte(lead) || !platform::IsTrailByte(trail))) continue;
      if (lead == 0 && (trail == 0x7F || (trail >= 0x80 && trail <= 0xA0) || trail >= 0xE0))
        continue;
      std::unique_ptr<PGresult, decltype(&PQclear)> result(nullptr, &PQclear);
      const char* value = c.c_str();
      result.reset(PQexecParams(server.Connection(),
                                ("SELECT $1::text, " + function + "($1)").c_str(), 1, nullptr,
                                &value, nullptr, nullptr, 0));
      if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) continue;  // no Unicode form
      const std::string stored = PQgetvalue(result.get(), 0, 0);
      const std::string serverFold = PQgetvalue(result.get(), 0, 1);
      ++compared;
      if (FoldedText(c, mode) != c) ++folded;
      EXPECT_EQ(serverFold, FoldedText(stored, mode)) << toolstest::Hex(c);
    }
  }
  EXPECT_GT(compared, 7000);
  return folded;
}

TEST(PostgresSearchIndexTest, ServerFoldsEveryCharacterAsTheSqliteDriver) {
  Server server("liraweb_fold_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  InstallSearchFunctions(server.Connection());
  EXPECT_GT(CompareEveryCharacter(server, "liraweb_fold", MatchMode::kFolded), 250);

  // Texts: half-width kana with their marks, runs of marks, the wildcards and escapes.
  std::mt19937 random(14);
  const std::vector<std::string> alphabet = FoldingAlphabet();
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) texts.push_back(RandomText(random, alphabet, 8));
  std::vector<std::string> serverFolds = server.Rows(
      "SELECT liraweb_fold(t) FROM unnest($1::text[]) WITH ORDINALITY AS x(t, n) ORDER BY n",
      {ArrayLiteral(texts)});
  ASSERT_EQ(serverFolds.size(), texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i)
    EXPECT_EQ(serverFolds[i], FoldedText(texts[i])) << toolstest::Hex(texts[i]);
}

// Random texts and LIKE patterns: the server's LIKE through the functions of the mode
// answers as the SQLite driver's, and the grams of a pattern are held by every text it
// matches.
void CompareLikeAndGrams(Server& server, MatchMode mode, const std::vector<std::string>& alphabet) {
  const std::string fold = mode == MatchMode::kLoose ? "liraweb_fold_loose2" : "liraweb_fold";
  std::mt19937 random(1400);
  std::vector<std::string> patterns, texts, grams;
  for (int i = 0; i < 4000; ++i) {
    const std::vector<std::string> characters = RandomCharacters(random, alphabet, 7);
    const std::string text = Joined(characters);
    // Patterns cut from the text match more often than random ones.
    std::string pattern =
        i % 2 ? RandomText(random, alphabet, 4)
              : "%" + Joined(characters, characters.size() / 3, characters.size() / 2) + "%";
    if (i % 5 == 0)
      pattern = RandomText(random, alphabet, 3) + "_" + RandomText(random, alphabet, 2);
    patterns.push_back(pattern);
    texts.push_back(text);
    grams.push_back(ArrayLiteral(db::RequiredGramTexts(pattern, nullptr, mode)));
  }
  std::vector<std::string> answers = server.Rows(
      "SELECT " + fold + "(t) LIKE " +
          (mode == MatchMode::kLoose ? "liraweb_fold_pattern_loose2" : "liraweb_fold_pattern") +
          "(p) ESCAPE '\\', liraweb_grams(" + fold +
          "(t)) @> g::text[] "
          "FROM unnest($1::text[], $2::text[], $3::text[]) WITH ORDINALITY AS x(t, p, g, n) ORDER "
          "BY n",
      {ArrayLiteral(texts), ArrayLiteral(patterns), ArrayLiteral(grams)});
  ASSERT_EQ(answers.size(), texts.size());
  int matched = 0;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const bool like = matching::SjisLike(patterns[i], texts[i], mode);
    matched += like;
    EXPECT_EQ(answers[i].substr(0, 1), like ? "t" : "f")
        << "text " << toolstest::Hex(texts[i]) << " pattern " << toolstest::Hex(patterns[i]);
    if (like) {
      EXPECT_EQ(answers[i].substr(2), "t") << "grams lose " << toolstest::Hex(texts[i]);
    }
  }
  EXPECT_GT(matched, 1000);
}

TEST(PostgresSearchIndexTest, ServerLikeMatchesAsTheSqliteDriverAndGramsNeverLoseARow) {
  Server server("liraweb_like_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  InstallSearchFunctions(server.Connection());
  CompareLikeAndGrams(server, MatchMode::kFolded, FoldingAlphabet());
}

// The loose functions against the loose folding: every character, and LIKE over texts
// with separators, the long vowel mark and forms of variant kanji.
TEST(PostgresSearchIndexTest, ServerFoldsLooselyAsTheSqliteDriver) {
  Server server("liraweb_loose_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  InstallSearchFunctions(server.Connection());
  EXPECT_GT(CompareEveryCharacter(server, "liraweb_fold_loose2", MatchMode::kLoose), 500);
  CompareLikeAndGrams(server, MatchMode::kLoose, LooseFoldingAlphabet());
}

// Statements as the driver writes them for the server, over the stored column, against
// the SQLite driver's LIKE over the same texts: NOT LIKE keeps its negation, and a loose
// word of several characters finds the texts with separators between its characters.
TEST(PostgresSearchIndexTest, NegatedAndSeveralCharacterWordsFindTheSqliteDriversRows) {
  Server server("liraweb_words_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  InstallSearchFunctions(server.Connection());
  // 高橋 (with 髙, a variant of 高), アイ, 日本 and ab, each with every separator between its
  // two characters and around it; then random texts.
  const std::vector<std::string> words = {"\x8d\x82\x8b\xb4", "\xfb\xfc\x8b\xb4",
                                          "\x83\x41\x83\x43", "\x93\xfa\x96\x7b", "ab"};
  const char* const separators[] = {"", "-", " ", ",", "\x81\x45", "\x81\x40", "\x81\x41", "x"};
  std::vector<std::string> texts;
  for (const std::string& word : words) {
    const std::size_t half = platform::CharLength(word, 0);
    for (const char* separator : separators) {
      texts.push_back(word.substr(0, half) + separator + word.substr(half));
      texts.push_back(separator + word + separator);
    }
  }
  std::mt19937 random(1402);
  for (int i = 0; i < 300; ++i) texts.push_back(RandomText(random, LooseFoldingAlphabet(), 6));
  server.Run("CREATE TABLE T (ID INTEGER, TX TEXT)");
  server.Rows("INSERT INTO T SELECT n, t FROM unnest($1::text[]) WITH ORDINALITY AS x(t, n)",
              {ArrayLiteral(texts)});
  int found = 0;
  for (MatchMode mode : {MatchMode::kFolded, MatchMode::kLoose}) {
    for (const std::string& word : words) {
      for (const char* negation : {"", "NOT "}) {
        const std::string pattern = "%" + word + "%";
        const std::string sql =
            db::ServerText("SELECT ID FROM T WHERE TX " + std::string(negation) + "LIKE '" +
                               pattern + "' ORDER BY ID",
                           mode, db::FoldedWords::kStoredForms);
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < texts.size(); ++i) {
          if (matching::SjisLike(pattern, texts[i], mode) == (*negation == '\0'))
            expected.push_back(std::to_string(i + 1));
        }
        found += static_cast<int>(expected.size());
        EXPECT_EQ(server.Rows(sql), expected) << static_cast<int>(mode) << " " << sql;
      }
    }
  }
  EXPECT_GT(found, 1000);
}

void LoadSample(const Server& server) {
  PostgresCatalogStore store(server.Conninfo());
  LoadOptions options;
  options.files = {toolstest::SourcePath("site/catalogue/books.tsv")};
  std::ostringstream diagnostics;
  ASSERT_EQ(LoadCatalogue(store, options, diagnostics).books, 198u);
}

// The search condition of the search statement for one word, as the driver sends it.
std::string SearchStatement(const std::string& word,
                            db::FoldedWords foldedWords = db::FoldedWords::kFoldEveryRow) {
  return db::ServerText("SELECT MS_BOOKID FROM BOOKMAST WHERE ( MS_SYOMEI LIKE '%" + word +
                            "%' OR MS_SYOKANA LIKE '%" + word + "%' ) ORDER BY MS_BOOKID",
                        MatchMode::kFolded, foldedWords);
}

TEST(PostgresSearchIndexTest, IndexesAnswerSearchesWithTheRowsOfAScan) {
  Server server("liraweb_index_test", "C.UTF-8");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  LoadSample(server);
  // A few thousand synthetic books, so that an index is worth the planner's while.
  SyntheticCatalogue synthetic(7, 2000001);
  for (int i = 0; i < 3000; ++i) {
    CatalogRecord r = synthetic.Next();
    server.Rows("INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI, MS_SYOKANA) VALUES ($1, $2, $3)",
                {r.bookId, Utf8ToShiftJis(r.title), Utf8ToShiftJis(r.titleKana)});
  }
  std::ostringstream log;
  CreateSearchIndexes(server.Connection(), log);
  EXPECT_NE(log.str().find("trigram index liraweb_trgm_MS_SYOMEI"), std::string::npos) << log.str();

  // Every book's title and reading, to find the expected rows with the SQLite folding.
  std::vector<std::string> books =
      server.Rows("SELECT MS_BOOKID, MS_SYOMEI, MS_SYOKANA FROM BOOKMAST ORDER BY MS_BOOKID");
  struct Search {
    const char* word;
    const char* index;        // the index the plan must name, every row folded
    const char* storedIndex;  // the same, compared over the stored forms
  };
  const Search searches[] = {
      {"\x94\x4c", "liraweb_grams_", "liraweb_grams_"},          // 猫
      {"\x82\xcb\x82\xb1", "liraweb_grams_", "liraweb_grams_"},  // ねこ finds ネコ
      {"\xbb\xd6\xc5\xd7", "liraweb_", "liraweb_grams_"},  // ｻﾖﾅﾗ finds さよなら and サヨナラ
      {"\xc3\xde\xbc\xde", "liraweb_grams_", "liraweb_grams_"},  // ﾃﾞｼﾞ finds デジ
      {"\x82\x6f\x82\x81\x82\x92\x82\x93", "liraweb_", "liraweb_grams_"},  // Ｐａｒｓ finds pars
      {"\x97\xb7\x90\x6c\x82\xc6\x89\x77", "liraweb_trgm_", "liraweb_grams_"},  // 旅人と駅
  };
  for (const Search& search : searches) {
    std::vector<std::string> expected;
    for (const std::string& book : books) {
      const std::size_t bar1 = book.find('|'), bar2 = book.find('|', bar1 + 1);
      const std::string pattern = std::string("%") + search.word + "%";
      if (matching::SjisLike(pattern, book.substr(bar1 + 1, bar2 - bar1 - 1), MatchMode::kFolded) ||
          matching::SjisLike(pattern, book.substr(bar2 + 1), MatchMode::kFolded))
        expected.push_back(book.substr(0, bar1));
    }
    // Both ways of writing folded words: folding every row, and over the stored forms.
    for (db::FoldedWords foldedWords :
         {db::FoldedWords::kFoldEveryRow, db::FoldedWords::kStoredForms}) {
      const std::string statement = SearchStatement(search.word, foldedWords);
      server.Run("SET enable_seqscan = on");
      server.Run("SET enable_bitmapscan = off");
      EXPECT_EQ(server.Rows(statement), expected) << toolstest::Hex(search.word) << " scanned";
      server.Run("SET enable_bitmapscan = on");
      server.Run("SET enable_seqscan = off");
      std::string plan;
      for (const std::string& line : server.Rows("EXPLAIN " + statement)) plan += line + "\n";
      const char* index =
          foldedWords == db::FoldedWords::kStoredForms ? search.storedIndex : search.index;
      EXPECT_NE(plan.find(index), std::string::npos) << plan;
      EXPECT_EQ(server.Rows(statement), expected) << toolstest::Hex(search.word) << " indexed";
    }
  }
  EXPECT_GT(server.Rows(SearchStatement("\x94\x4c")).size(), 10u);

  // The any-field box's OR over seven columns: served by the indexes only when every
  // column has one, else the server reads every book for it.
  std::string any;
  for (const char* column :
       {"MS_SYOMEI", "MS_SYOKANA", "MS_CHOSYA", "MS_CHOKANA", "MS_SYUPAN", "MS_ISBN", "MS_KENMEI"})
    any += std::string(any.empty() ? "" : " OR ") + column + " LIKE '%\x94\x4c%'";
  const std::string anyStatement =
      db::ServerText("SELECT MS_BOOKID FROM BOOKMAST WHERE ( " + any + " ) ORDER BY MS_BOOKID",
                     MatchMode::kFolded, db::FoldedWords::kStoredForms);
  std::string plan;
  for (const std::string& line : server.Rows("EXPLAIN " + anyStatement)) plan += line + "\n";
  // (a column without one leaves a scan of the table or of its key's index)
  EXPECT_NE(plan.find("BitmapOr"), std::string::npos) << plan;
  const std::vector<std::string> indexed = server.Rows(anyStatement);
  server.Run("SET enable_seqscan = on");
  server.Run("SET enable_bitmapscan = off");
  EXPECT_EQ(server.Rows(anyStatement), indexed);
  EXPECT_GT(indexed.size(), 10u);
}

TEST(PostgresSearchIndexTest, CatalogIndexSaysWhyACharacterTypeGetsNoTrigramIndexes) {
  Server server("liraweb_ctype_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  LoadSample(server);
  toolstest::ToolRun run = toolstest::RunTool(std::string(CATALOG_INDEX) + " build --postgres '" +
                                              server.Conninfo() + "'");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("n-gram index liraweb_grams_MS_CHOKANA"), std::string::npos);
  EXPECT_NE(run.output.find("no trigram indexes: the database's character type (LC_CTYPE C)"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(server.Value("SELECT count(*) FROM pg_indexes WHERE indexname LIKE 'liraweb_trgm%'"),
            "0");
  // Again: nothing new, nothing fails.
  EXPECT_EQ(toolstest::RunTool(std::string(CATALOG_INDEX) + " build --postgres '" +
                               server.Conninfo() + "'")
                .exitCode,
            0);
}

// A library's own table and columns: the indexes go on them, named after the columns as
// the searches look them up, and a name that is not a plain SQL name is refused; the
// best-match order's B-trees go on those of its columns the table has (over the mode's
// folding), and drop removes what build made for the mode.
TEST(PostgresSearchIndexTest, CatalogIndexBuildsOnTheNamedTableAndColumns) {
  Server server("liraweb_table_test", "C.UTF-8");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  server.Run(
      "CREATE TABLE zosho (shomei text, chosha text, biko text, ms_syomei text, ms_syunen int, "
      "ms_bookid text)");
  struct Case {
    std::string arguments;
    int exitCode;
    std::string indexes;  // the table's indexes afterwards, as the server lists them
  } cases[] = {
      {"build --table zosho --columns shomei,chosha", 0,
       "liraweb_folded_ends_ms_syomei|liraweb_folded_ms_syomei|liraweb_grams_chosha|"
       "liraweb_grams_shomei|liraweb_ranking_order|liraweb_trgm_chosha|liraweb_trgm_shomei"},
      {"build --table zosho --columns biko --match loose", 0,
       "liraweb_folded_ends_ms_syomei|liraweb_folded_ends_ms_syomei_loose2|"
       "liraweb_folded_ms_syomei|liraweb_folded_ms_syomei_loose2|liraweb_grams_biko_loose2|"
       "liraweb_grams_chosha|liraweb_grams_shomei|liraweb_ranking_order|"
       "liraweb_trgm_biko_loose2|liraweb_trgm_chosha|liraweb_trgm_shomei"},
      {"build --table 'zosho;drop' --columns biko", 1, ""},
      {"build --table zosho --columns 'biko)'", 1, ""},
      {"drop --table zosho --columns biko --match loose", 0,
       "liraweb_folded_ends_ms_syomei|liraweb_folded_ms_syomei|liraweb_grams_chosha|"
       "liraweb_grams_shomei|liraweb_trgm_chosha|liraweb_trgm_shomei"},
      {"drop --table zosho --columns shomei,chosha", 0, "-"},
  };
  std::string expected;
  for (const Case& c : cases) {
    toolstest::ToolRun run = toolstest::RunTool(std::string(CATALOG_INDEX) + " " + c.arguments +
                                                " --postgres '" + server.Conninfo() + "'");
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.output;
    if (!c.indexes.empty()) expected = c.indexes == "-" ? "" : c.indexes;
    EXPECT_EQ(server.Value("SELECT coalesce(string_agg(indexname, '|' ORDER BY indexname), '') "
                           "FROM pg_indexes WHERE tablename = 'zosho'"),
              expected)
        << c.arguments;
  }
  EXPECT_EQ(server.Value("SELECT count(*) FROM pg_class WHERE relname = 'bookmast'"), "0");
}

// Through the engine and the plug-in, as the program searches: an alias folds when it
// says MATCH=FOLDED and its database has the functions; an alias without MATCH, or a
// database loaded before the functions existed, compares exactly as it always did.
TEST(PostgresSearchIndexTest, AnAliasFoldsWhenItAsksAndTheDatabaseCan) {
  Server installed("liraweb_match_test", "C");
  if (!installed.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  LoadSample(installed);
  InstallSearchFunctions(installed.Connection());
  Server bare("liraweb_match_bare", "C");
  LoadSample(bare);

  test_support::TempDir folder("match.");
  const std::string conf = folder.Path() + "/dbengine.conf";
  test_support::WriteBytes(
      conf, "[folded]\nDRIVER=POSTGRES\nMATCH=FOLDED\nCONNINFO=" + installed.Conninfo() +
                "\n[plain]\nDRIVER=POSTGRES\nCONNINFO=" + installed.Conninfo() +
                "\n[older]\nDRIVER=POSTGRES\nMATCH=FOLDED\n"
                "CONNINFO=" +
                bare.Conninfo() +
                "\n[looser]\nDRIVER=POSTGRES\nMATCH=LOOSE\nCONNINFO=" + bare.Conninfo() + "\n");
  setenv("DBENGINE_CONFIG", conf.c_str(), 1);
  // なつめ: the sample's readings of 夏目 are written ナツメ.
  const std::string search =
      "SELECT COUNT(*) AS N FROM BOOKMAST WHERE ( MS_CHOSYA LIKE '%\x82\xc8\x82\xc2\x82\xdf%'"
      " OR MS_CHOKANA LIKE '%\x82\xc8\x82\xc2\x82\xdf%' )";
  const char* cases[][2] = {{"folded", "8"}, {"plain", "0"}};
  for (auto& c : cases) {
    TQuery query("qMaster");
    query.SetDatabaseName(c[0]);
    query.SetSqlLines({search});
    query.OpenQuery();
    EXPECT_EQ(query.FieldText("N"), c[1]) << c[0];
  }
  // Without the functions a folding alias would compare exactly and find nothing where
  // the books are: its searches fail, naming the tool that installs them; statements
  // without LIKE still run. A function of the first loose folding, which passed over no
  // punctuation, is not the loose one either.
  bare.Run(
      "CREATE FUNCTION liraweb_fold_pattern_loose(p text) RETURNS text LANGUAGE sql "
      "IMMUTABLE AS 'SELECT p'");
  const char* refused[][2] = {{"older", "--postgres CONNINFO\r\n"},
                              {"looser", "--postgres CONNINFO --match loose"}};
  for (auto& c : refused) {
    TQuery query("qMaster");
    query.SetDatabaseName(c[0]);
    query.SetSqlLines({search});
    try {
      query.OpenQuery();
      ADD_FAILURE() << c[0] << " searched without the functions: " << query.FieldText("N");
    } catch (const db::EDBEngineError& error) {
      EXPECT_NE((error.Message() + "\r\n").find("catalog_index build " + std::string(c[1])),
                std::string::npos)
          << error.Message();
    }
    query.SetSqlLines({"SELECT COUNT(*) AS N FROM BOOKMAST"});
    query.OpenQuery();
    EXPECT_NE(query.FieldText("N"), "0") << c[0];
  }
}

// Points the engine at a configuration of folding PostgreSQL aliases, one for each name,
// over the database of the connection text.
void UseFoldingAliases(const test_support::TempDir& folder, const std::vector<std::string>& names,
                       const std::string& conninfo) {
  std::string aliases;
  for (const std::string& name : names)
    aliases += "[" + name + "]\nDRIVER=POSTGRES\nMATCH=FOLDED\nCONNINFO=" + conninfo + "\n";
  const std::string conf = folder.Path() + "/dbengine.conf";
  test_support::WriteBytes(conf, aliases);
  setenv("DBENGINE_CONFIG", conf.c_str(), 1);
}

// How many lines of the test server's log, kept beside its socket in the folder the
// connection text names as host, the backend of `pid` wrote holding `text`.
int LinesLogged(const std::string& conninfo, const std::string& pid, const std::string& text) {
  const std::size_t host = conninfo.find("host=") + 5;
  std::istringstream log(
      toolstest::ReadFile(conninfo.substr(host, conninfo.find(' ', host) - host) + "/server.log"));
  int lines = 0;
  for (std::string line; std::getline(log, line);)
    lines +=
        line.find("[" + pid + "]") != std::string::npos && line.find(text) != std::string::npos;
  return lines;
}

// A connection asks once, at its first statement with LIKE, whether its database has the
// folding functions, rather than once a statement: the server logs the question once
// however many searches follow.
TEST(PostgresSearchIndexTest, AConnectionAsksForTheFoldingFunctionsOnce) {
  Server server("liraweb_asked_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  LoadSample(server);
  InstallSearchFunctions(server.Connection());
  test_support::TempDir folder("asked.");
  UseFoldingAliases(folder, {"logged"}, server.Conninfo() + " options='-c log_statement=all'");
  TQuery query("qMaster");
  query.SetDatabaseName("logged");
  query.SetSqlLines({"SELECT pg_backend_pid() AS P"});
  query.OpenQuery();
  const std::string pid = query.FieldText("P");
  // なつめ, なつ and つめ: the sample's readings of 夏目 are written ナツメ.
  for (const char* word : {"\x82\xc8\x82\xc2\x82\xdf", "\x82\xc8\x82\xc2", "\x82\xc2\x82\xdf"}) {
    query.SetSqlLines(
        {"SELECT COUNT(*) AS N FROM BOOKMAST WHERE MS_CHOKANA LIKE '%" + std::string(word) + "%'"});
    query.OpenQuery();
    EXPECT_NE(query.FieldText("N"), "0") << toolstest::Hex(word);
  }
  EXPECT_GE(LinesLogged(server.Conninfo(), pid, "BOOKMAST"), 3);
  EXPECT_EQ(LinesLogged(server.Conninfo(), pid, "to_regprocedure("), 1);
}

}  // namespace

namespace {

// Through the plug-in: a word the n-gram index's statistics give to most rows is sent
// without its n-gram condition, a rare one with it, and both count what LIKE finds.
// Broadness is read from the tools' copy of the n-gram statistics where it is there (a
// copy made to disagree with the statistics shows which one was read), else from the
// statistics view.
TEST(PostgresSearchIndexTest, BroadWordsGoWithoutTheirNgramCondition) {
  Server server("liraweb_broad_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  LoadSample(server);
  // ノ in four books of five, 猫 in one of a hundred.
  for (int i = 0; i < 2000; ++i) {
    const std::string title = std::string(i % 5 ? "\x83\x6d" : "x") + (i % 100 ? "" : "\x94\x4c");
    server.Rows("INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI, MS_SYOKANA) VALUES ($1, $2, '')",
                {"BROAD" + std::to_string(i), title});
  }
  std::ostringstream log;
  CreateSearchIndexes(server.Connection(), log);
  EXPECT_GT(std::stod(server.Value("SELECT share FROM liraweb_gram_shares WHERE index_name = "
                                   "'liraweb_grams_ms_syomei' AND gram = $1",
                                   {"\x83\x6d"})),
            0.125);
  server.Rows(
      "INSERT INTO liraweb_gram_shares VALUES ('liraweb_grams_ms_syomei', $1, 0.9), "
      "('liraweb_grams_ms_syokana', $1, 0.9) ON CONFLICT (index_name, gram) DO UPDATE SET share = "
      "0.9",
      {"\x94\x4c"});
  test_support::TempDir folder("broad.");
  UseFoldingAliases(folder, {"kept", "viewed"}, server.Conninfo());
  struct Case {
    const char* alias;
    const char* word;
    bool narrowed;
  };
  for (const Case& c : {Case{"kept", "\x82\xcc", false}, Case{"kept", "\x94\x4c", false},  // の, 猫
                        Case{"viewed", "\x82\xcc", false}, Case{"viewed", "\x94\x4c", true}}) {
    // The second alias connects after the copy is gone.
    if (std::string_view(c.alias) == "viewed")
      server.Rows("DROP TABLE IF EXISTS liraweb_gram_shares");
    const std::string count = server.Value(
        "SELECT count(*) FROM BOOKMAST WHERE liraweb_fold(MS_SYOMEI) LIKE liraweb_fold_pattern($1) "
        "OR liraweb_fold(MS_SYOKANA) LIKE liraweb_fold_pattern($1)",
        {"%" + std::string(c.word) + "%"});
    TQuery search("qMaster");
    search.SetDatabaseName(c.alias);
    search.SetSqlLines({"SELECT COUNT(*) AS N FROM BOOKMAST WHERE ( MS_SYOMEI LIKE '%" +
                        std::string(c.word) + "%' OR MS_SYOKANA LIKE '%" + c.word + "%' )"});
    search.OpenQuery();
    EXPECT_EQ(search.FieldText("N"), count) << c.alias << " " << toolstest::Hex(c.word);
    // The search statement is still prepared on the same connection.
    TQuery sent("qMaster");
    sent.SetDatabaseName(c.alias);
    sent.SetSqlLines(
        {"SELECT statement AS S FROM pg_prepared_statements "
         "WHERE position('SELECT COUNT' IN statement) = 1"});
    sent.OpenQuery();
    EXPECT_EQ(sent.FieldText("S").find("liraweb_grams") != std::string::npos, c.narrowed)
        << c.alias << " " << sent.FieldText("S");
  }
}

// The sample and 2,400 books more, the search functions installed and no index: the
// best-match statement of a word most of them hold (の, ノ猫, 猫の, のの, 犬 in turn:
// 1,920 books hold の as written or folded; years repeat, some are unknown), in three
// tiers.
std::string LoadTieredBooks(Server& server) {
  LoadSample(server);
  const char* titles[] = {"\x82\xcc", "\x83\x6d\x94\x4c", "\x94\x4c\x82\xcc", "\x82\xcc\x82\xcc",
                          "\x8c\xa2"};
  for (int i = 0; i < 2400; ++i) {
    server.Rows(
        "INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI, MS_SYOKANA, MS_SYUNEN) VALUES ($1, $2, '', "
        "NULLIF($3, '')::int)",
        {"TIER" + std::to_string(i), titles[i % 5], i % 13 ? std::to_string(1990 + i % 7) : ""});
  }
  InstallSearchFunctions(server.Connection());
  const std::string no = "\x82\xcc";  // の
  return "SELECT MS_BOOKID FROM BOOKMAST WHERE ( MS_SYOMEI LIKE '%" + no +
         "%' OR MS_SYOKANA LIKE '%" + no + "%' ) ORDER BY CASE WHEN ( MS_SYOMEI LIKE '" + no +
         "' OR MS_SYOKANA LIKE '" + no + "' ) THEN 0 WHEN ( MS_SYOMEI LIKE '" + no +
         "%' OR MS_SYOKANA LIKE '" + no +
         "%' ) THEN 1 ELSE 2 END, MS_SYUNEN IS NULL, MS_SYUNEN DESC, MS_BOOKID";
}

// The keys `sql` gives on the alias, read as a request reads them, after checking its count.
std::vector<std::string> KeysRead(TQuery& query, const std::string& sql) {
  query.CloseQuery();
  query.SetSqlLines({sql});
  query.OpenQuery();
  std::vector<std::string> read;
  for (; !query.AtEnd(); query.NextRow()) read.push_back(query.FieldText("MS_BOOKID"));
  EXPECT_EQ(query.RowCount(), static_cast<std::int64_t>(read.size()));
  return read;
}

// The tiers' statements of a broad word as the driver writes them where every folded
// index is there: without its n-gram condition, each anchored comparison with its range.
std::vector<std::string> TiersWhereIndexed(const std::string& ranked) {
  return RankedTierTexts(ranked,
                         ServerText(ranked, MatchMode::kFolded, FoldedWords::kStoredForms,
                                    [](const NarrowableWord&) { return false; }),
                         MatchMode::kFolded, [](const std::string&, FoldedIndexKind) { return true; });
}

// The server's plan of `sql`, a line of EXPLAIN's output a line.
std::string PlanOf(Server& server, const std::string& sql) {
  std::string plan;
  for (const std::string& line : server.Rows("EXPLAIN " + sql)) plan += line + "\n";
  return plan;
}

// Through the plug-in: a best-match statement of a word most books hold is read tier by
// tier where the index of its ties is there, its anchored tiers (the title equal to the
// word, beginning with it) with the range the folded B-trees answer beside them; after
// catalog_index drop it is sent as one statement again. Both give the rows of the one
// statement run directly, and the indexes are looked up once a request.
TEST(PostgresSearchIndexTest, BestMatchIsReadTierByTierWhereItsIndexesAre) {
  Server server("liraweb_tiers_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  const std::string ranked = LoadTieredBooks(server);
  const std::vector<std::string> expected = server.Rows(ServerText(ranked, MatchMode::kFolded));
  ASSERT_GT(expected.size(), 1900u);
  std::ostringstream log;
  CreateSearchIndexes(server.Connection(), log);
  EXPECT_NE(log.str().find("folded order index liraweb_folded_ms_syomei"), std::string::npos)
      << log.str();

  // The tiers' statements, as the driver writes them where the indexes are: the equal
  // and the beginning tier are read from the folded title's B-tree.
  // The word is broad: without its n-gram condition, as the driver sends it.
  const std::vector<std::string> tiers = TiersWhereIndexed(ranked);
  ASSERT_EQ(tiers.size(), 3u);
  server.Run("SET enable_seqscan = off");
  for (std::size_t tier : {0, 1}) {
    const std::string plan = PlanOf(server, tiers[tier]);
    EXPECT_NE(plan.find("liraweb_folded_ms_syomei"), std::string::npos) << tier << "\n" << plan;
  }
  server.Run("SET enable_seqscan = on");

  test_support::TempDir folder("tiers.");
  UseFoldingAliases(folder, {"tiered", "whole"},
                    server.Conninfo() + " options='-c log_statement=all'");
  for (const char* alias : {"tiered", "whole"}) {
    if (std::string_view(alias) == "whole") {
      toolstest::ToolRun run = toolstest::RunTool(std::string(CATALOG_INDEX) +
                                                  " drop --postgres '" + server.Conninfo() + "'");
      ASSERT_EQ(run.exitCode, 0) << run.output;
    }
    TQuery query("qMaster");
    query.SetDatabaseName(alias);
    query.SetSqlLines({"SELECT pg_backend_pid() AS P"});
    query.OpenQuery();
    const std::string pid = query.FieldText("P");
    for (int pass = 0; pass < 2; ++pass) EXPECT_EQ(KeysRead(query, ranked), expected) << alias;
    EXPECT_EQ(LinesLogged(server.Conninfo(), pid, "relname LIKE"), 1) << alias;
    // A cursor for the process's id, then for each pass one statement, or one a tier.
    const bool tiered = std::string_view(alias) == "tiered";
    EXPECT_EQ(LinesLogged(server.Conninfo(), pid, "DECLARE"), tiered ? 1 + 2 * 3 : 1 + 2) << alias;
  }
}

// A process that serves many requests keeps its connection, and each request sees the
// indexes of the best-match order as they are at its moment: made by catalog_index build
// after the connection was opened, and dropped again. The question rides with the one
// about the search functions, once a request.
TEST(PostgresSearchIndexTest, AKeptConnectionSeesTheBestMatchIndexesOfEachRequest) {
  Server server("liraweb_kept_tiers_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  platform::MarkServingManyRequests();
  const std::string ranked = LoadTieredBooks(server);
  const std::vector<std::string> expected = server.Rows(ServerText(ranked, MatchMode::kFolded));
  test_support::TempDir folder("kept.");
  UseFoldingAliases(folder, {"kept"}, server.Conninfo() + " options='-c log_statement=all'");
  std::string pid;
  int declared = 0;
  // In turn: no index yet (one statement), built (one a tier), dropped (one statement).
  for (const char* step : {"", "build", "drop"}) {
    if (*step) {
      toolstest::ToolRun run = toolstest::RunTool(std::string(CATALOG_INDEX) + " " + step +
                                                  " --postgres '" + server.Conninfo() + "'");
      ASSERT_EQ(run.exitCode, 0) << run.output;
    }
    TQuery query("qMaster");
    query.SetDatabaseName("kept");
    query.SetSqlLines({"SELECT pg_backend_pid() AS P"});
    query.OpenQuery();
    if (pid.empty()) pid = query.FieldText("P");
    EXPECT_EQ(query.FieldText("P"), pid) << step;
    EXPECT_EQ(KeysRead(query, ranked), expected) << step;
    query.CloseQuery();
    platform::RunRequestEndHooks();
    const int now = LinesLogged(server.Conninfo(), pid, "DECLARE");
    EXPECT_EQ(now - declared, 1 + (std::string_view(step) == "build" ? 3 : 1)) << step;
    declared = now;
  }
  EXPECT_EQ(LinesLogged(server.Conninfo(), pid, "relname LIKE"), 3);
  EXPECT_EQ(LinesLogged(server.Conninfo(), pid, "to_regprocedure("), 3);
}

// A tier of titles ending with a word is read from the B-trees over the reversed folded
// title and reading, which catalog_index build creates and drop removes; the rows, in
// their order, are those of the one statement before the build, with the indexes and
// after the drop. The word's reading (ノ for の) ends titles and readings too, and ダ's
// second byte is the code of "_", which stays a character.
TEST(PostgresSearchIndexTest, TitlesEndingWithAWordAreARangeOfTheReversedIndex) {
  Server server("liraweb_ending_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  LoadTieredBooks(server);
  const char* more[][2] = {{"\x94\x4c\x83\x6d", ""},                  // 猫ノ
                           {"\x8c\xa2", "\x83\x43\x83\x6d\x83\x6d"},  // 犬, イヌノ
                           {"\x82\xcc\x83\x5f", ""},                  // のダ
                           {"\x83\x5f\x82\xcc", "\x83\x5f"}};       // ダの, ダ
  for (int i = 0; i < 40; ++i) {
    server.Rows("INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI, MS_SYOKANA, MS_SYUNEN) VALUES ($1, "
                "$2, $3, $4::int)",
                {"END" + std::to_string(i), more[i % 4][0], more[i % 4][1],
                 std::to_string(1980 + i % 9)});
  }
  const std::string no = "\x82\xcc", da = "\x83\x5f";  // の, ダ
  auto either = [](const std::string& pattern) {
    return "( MS_SYOMEI LIKE '" + pattern + "' OR MS_SYOKANA LIKE '" + pattern + "' )";
  };
  const std::string ranked =
      "SELECT MS_BOOKID FROM BOOKMAST WHERE " + either("%" + no + "%") + " OR " +
      either("%" + da + "%") + " ORDER BY CASE WHEN " + either(no + "%") + " AND " +
      either("%" + no) + " THEN 0 WHEN " + either("%" + no) + " THEN 1 WHEN " + either("%" + da) +
      " THEN 2 ELSE 3 END, MS_SYUNEN IS NULL, MS_SYUNEN DESC, MS_BOOKID";
  const std::vector<std::string> expected = server.Rows(ServerText(ranked, MatchMode::kFolded));
  ASSERT_GT(expected.size(), 1000u);

  test_support::TempDir folder("ending.");
  UseFoldingAliases(folder, {"ending"}, server.Conninfo());
  const std::string ending = FoldedEndingIndex("MS_SYOMEI", MatchMode::kFolded);
  for (const char* step : {"", "build", "drop"}) {
    if (*step) {
      toolstest::ToolRun run = toolstest::RunTool(std::string(CATALOG_INDEX) + " " + step +
                                                  " --postgres '" + server.Conninfo() + "'");
      ASSERT_EQ(run.exitCode, 0) << run.output;
      const bool built = std::string_view(step) == "build";
      EXPECT_EQ(run.output.find("folded ending index " + ending) != std::string::npos, built)
          << run.output;
      EXPECT_EQ(server.Rows("SELECT to_regclass('" + ending + "') IS NOT NULL"),
                std::vector<std::string>{built ? "t" : "f"});
    }
    TQuery query("qMaster");
    query.SetDatabaseName("ending");
    EXPECT_EQ(KeysRead(query, ranked), expected) << step;
    if (std::string_view(step) != "build") continue;
    // Each tier that compares an ending is read from the reversed B-trees.
    const std::vector<std::string> tiers = TiersWhereIndexed(ranked);
    ASSERT_EQ(tiers.size(), 4u);
    server.Run("SET enable_seqscan = off");
    for (std::size_t tier : {1, 2}) {
      const std::string plan = PlanOf(server, tiers[tier]);
      EXPECT_NE(plan.find(ending), std::string::npos) << tier << "\n" << plan;
      EXPECT_NE(plan.find(FoldedEndingIndex("MS_SYOKANA", MatchMode::kFolded)), std::string::npos)
          << tier << "\n" << plan;
    }
    server.Run("SET enable_seqscan = on");
  }
}

}  // namespace
