// The stored forms of the folded characters against the PostgreSQL server's own LIKE
// over the folded texts (the functions the catalogue tools install): a regular expression
// or a few LIKE patterns over the stored text find what the folded comparison finds.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "matching/stored_forms.h"
#include "tests/support/folding_texts.h"
#include "tests/support/postgres_test_server.h"
#include "tools/postgres_search_index.h"

namespace {

using namespace test_support;
using matching::MatchMode;
using tools::InstallSearchFunctions;
using Server = PostgresTestServer;

// A text in a failure message, its bytes escaped.
std::string Hex(const std::string& bytes) { return ::testing::PrintToString(bytes); }

// What CompareStoredForms found: comparisons made, patterns LIKE could write, and
// texts that every way matched.
struct StoredFormsComparison {
  std::size_t texts = 0;
  int likesWritten = 0, matched = 0;
};

// The driver's regular expressions and LIKE patterns over the stored text against the
// server's LIKE of the mode: random texts and patterns over the alphabet, and every form
// of every character that folds, alone and beside the marks and kana that could join it.
StoredFormsComparison CompareStoredForms(Server& server, MatchMode mode,
                                         const std::vector<std::string>& alphabet) {
  std::mt19937 random(1401);
  std::vector<std::string> patterns, texts, regexes, likes;
  StoredFormsComparison found;
  auto add = [&](const std::string& text, const std::string& pattern) {
    if (std::optional<std::string> regex = matching::StoredFormsRegex(pattern, mode)) {
      texts.push_back(text);
      patterns.push_back(pattern);
      regexes.push_back(*regex);
      // Every pattern that LIKE can write (the empty list stands for none).
      std::optional<std::vector<std::string>> written =
          matching::StoredFormsLikePatterns(pattern, 64, mode);
      likes.push_back(ArrayLiteral(written.value_or(std::vector<std::string>{})));
      found.likesWritten += written.has_value();
    }
  };
  for (int i = 0; i < 4000; ++i) {
    const std::vector<std::string> characters = RandomCharacters(random, alphabet, 7);
    const std::size_t from = characters.size() / 3, count = 1 + i % 4;
    const char* wildcards[][2] = {{"%", "%"}, {"", "%"}, {"%", ""}, {"", ""}};
    const auto& around = wildcards[i % 4];
    add(Joined(characters), i % 3 ? around[0] + Joined(characters, from, count) + around[1]
                                  : RandomText(random, alphabet, 3));
  }
  for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
    const std::vector<matching::StoredForm> forms = matching::StoredForms(unit, mode);
    if (forms.size() < 2) continue;
    for (const matching::StoredForm& form : forms) {
      for (const std::string& text : {form.bytes, form.bytes + "\xde", form.bytes + "\xdf",
                                      "\xb6" + form.bytes, "\xca" + form.bytes}) {
        add(text, "%" + forms[0].bytes + "%");
        add(text, forms[0].bytes);
      }
    }
  }
  const std::string suffix = mode == MatchMode::kLoose ? "_loose2" : "";
  const std::string like =
      "liraweb_fold" + suffix + "(t) LIKE liraweb_fold_pattern" + suffix + "(p) ESCAPE '\\'";
  std::vector<std::string> answers = server.Rows(
      "SELECT t COLLATE \"C\" ~ r, " + like + ", cardinality(l::text[]) = 0 OR (" + like +
          ") = EXISTS (SELECT 1 FROM unnest(l::text[]) AS q WHERE t COLLATE \"C\" LIKE q "
          "ESCAPE '') FROM unnest($1::text[], $2::text[], $3::text[], $4::text[]) WITH "
          "ORDINALITY AS x(t, p, r, l, n) ORDER BY n",
      {ArrayLiteral(texts), ArrayLiteral(patterns), ArrayLiteral(regexes), ArrayLiteral(likes)});
  EXPECT_EQ(answers.size(), texts.size());
  for (std::size_t i = 0; i < texts.size() && i < answers.size(); ++i) {
    found.matched += answers[i] == "t|t|t";
    EXPECT_EQ(answers[i].substr(4), "t") << "LIKE patterns differ for " << Hex(texts[i]);
    EXPECT_EQ(answers[i].substr(0, 1), answers[i].substr(2, 1))
        << "text " << Hex(texts[i]) << " pattern " << Hex(patterns[i]) << " regex "
        << Hex(regexes[i]);
  }
  found.texts = texts.size();
  return found;
}

TEST(StoredForms, MatchAsTheServersFoldedLike) {
  Server server("liraweb_regex_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  InstallSearchFunctions(server.Connection());
  const StoredFormsComparison found =
      CompareStoredForms(server, MatchMode::kFolded, FoldingAlphabet());
  EXPECT_GT(found.texts, 4000u);
  EXPECT_GT(found.likesWritten, 1000);
  EXPECT_GT(found.matched, 1500);
}

// The loose mode's forms: separators anywhere, variant kanji, typed "%" and "_" as
// characters.
TEST(StoredForms, MatchAsTheServersLooseLike) {
  Server server("liraweb_loose_regex_test", "C");
  if (!server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  InstallSearchFunctions(server.Connection());
  const StoredFormsComparison found =
      CompareStoredForms(server, MatchMode::kLoose, LooseFoldingAlphabet());
  EXPECT_GT(found.texts, 4000u);
  EXPECT_GT(found.likesWritten, 300);
  EXPECT_GT(found.matched, 1500);
}

}  // namespace
