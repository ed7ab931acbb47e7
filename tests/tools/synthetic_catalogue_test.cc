#include "tools/synthetic_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tools_test_support.h"
#include "tools/catalog_load.h"
#include "tools/isbn.h"
#include "tools/sqlite_catalog_store.h"

using namespace tools;

namespace {

std::string Generate(std::uint64_t count, std::uint64_t seed,
                     FileEncoding encoding = FileEncoding::kUtf8) {
  std::ostringstream out;
  WriteSyntheticCatalogue(out, count, seed, 1000001, encoding);
  return out.str();
}

TEST(SyntheticCatalogueTest, SameSeedSameBytesOtherSeedOtherBooks) {
  EXPECT_EQ(Generate(500, 7), Generate(500, 7));
  EXPECT_NE(Generate(500, 7), Generate(500, 8));
  // A longer file begins with the shorter one: a book does not depend on the count.
  std::string shortFile = Generate(100, 7);
  std::string longFile = Generate(200, 7);
  std::string shortBody = shortFile.substr(shortFile.find('\n') + 1);
  EXPECT_NE(longFile.find(shortBody), std::string::npos);
}

TEST(SyntheticCatalogueTest, BooksAreValidAndVaried) {
  SyntheticCatalogue catalogue(42, 1);
  std::set<std::string> titles, ids;
  int lent = 0, reference = 0, attachmentsKept = 0, withIsbn = 0;
  for (int i = 0; i < 5000; ++i) {
    CatalogRecord r = catalogue.Next();
    // Every generated line passes the loader's checks (ISBN check digits among them).
    CatalogRecord back = ParseRecord(FormatRecord(r));
    EXPECT_EQ(back.isbn, r.isbn);
    if (!r.isbn.empty()) {
      EXPECT_EQ(tools::Problem(r.isbn), "") << r.isbn;
      ++withIsbn;
    }
    ids.insert(r.bookId);
    titles.insert(r.title);
    EXPECT_EQ(r.titleKana.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos);
    lent += !r.loanUser.empty();
    reference += r.loanClass == "3";
    attachmentsKept += r.attachCount.has_value() && r.attachMark.empty();
  }
  EXPECT_EQ(ids.size(), 5000u);
  EXPECT_GT(titles.size(), 1000u);
  EXPECT_GT(withIsbn, 3000);
  EXPECT_NEAR(lent, 600, 100);
  EXPECT_NEAR(reference, 150, 50);
  EXPECT_GT(attachmentsKept, 20);
}

// The realistic catalogue: reproducible, valid, mostly distinct titles with subtitles,
// series volumes and editions by several publishers, authors with many books and with
// one.
TEST(SyntheticCatalogueTest, RealisticBooksAreMostlyDistinctWithALongTail) {
  std::ostringstream first, second;
  WriteSyntheticCatalogue(first, 300, 5, 1, FileEncoding::kUtf8, true);
  WriteSyntheticCatalogue(second, 300, 5, 1, FileEncoding::kUtf8, true);
  EXPECT_EQ(first.str(), second.str());
  SyntheticCatalogue realistic(42, 1, true);
  std::map<std::string, std::set<std::string>> publishersOfTitle;
  std::map<std::string, int> booksOfAuthor, booksOfTitle;
  int subtitles = 0, volumes = 0, halves = 0;
  const int count = 20000;
  for (int i = 0; i < count; ++i) {
    const CatalogRecord r = realistic.Next();
    EXPECT_EQ(ParseRecord(FormatRecord(r)).title, r.title);
    EXPECT_TRUE(r.isbn.empty() || tools::Problem(r.isbn).empty()) << r.isbn;
    publishersOfTitle[r.title + "/" + r.author].insert(r.publisher);
    ++booksOfAuthor[r.author];
    ++booksOfTitle[r.title];
    subtitles += r.title.find("―") != std::string::npos;
    volumes += r.title.find("巻") != std::string::npos;
    halves += r.title.ends_with(" 上") || r.title.ends_with(" 下");
  }
  EXPECT_GT(publishersOfTitle.size(), count * 7 / 10u);
  const auto editions = std::count_if(publishersOfTitle.begin(), publishersOfTitle.end(),
                                      [](const auto& work) { return work.second.size() > 1; });
  EXPECT_GT(editions, count / 50);
  // Authors as a library holds them: many with one book, some with dozens (a few
  // hundred in a million), none with a large share of the catalogue, and no family name
  // on more than 2 % of the books (佐藤, the commonest in Japan, is about 1.5 %).
  int oneBook = 0, prolific = 0, mostOfAuthor = 0;
  std::map<std::string, int> booksOfFamily;
  for (const auto& [author, books] : booksOfAuthor) {
    oneBook += books == 1;
    prolific += books >= 8;
    mostOfAuthor = std::max(mostOfAuthor, books);
    booksOfFamily[author.substr(0, author.size() - 6)] += books;  // given name: two kanji
  }
  EXPECT_GT(oneBook, static_cast<int>(booksOfAuthor.size()) / 3);
  EXPECT_GT(prolific, 10);
  EXPECT_LE(mostOfAuthor, count / 500);
  for (const auto& [family, books] : booksOfFamily) EXPECT_LE(books, count / 50) << family;
  // Most books carry a title no other book has, and no short title is on more than
  // 0.2 % of them.
  int titleOnce = 0, mostOfTitle = 0;
  for (const auto& [title, books] : booksOfTitle) {
    titleOnce += books == 1;
    mostOfTitle = std::max(mostOfTitle, books);
  }
  EXPECT_GT(titleOnce, count * 6 / 10);
  EXPECT_LE(mostOfTitle, count / 500);
  EXPECT_GT(subtitles, count / 10);
  EXPECT_GT(volumes, count / 20);
  EXPECT_GT(halves, count / 100);
}

TEST(SyntheticCatalogueTest, ShiftJisFileLoadsIntoSqlite) {
  test_support::TempDir folder("catalog-tools.");
  std::string file = folder / "synthetic.tsv";
  test_support::WriteBytes(file, Generate(2000, 3, FileEncoding::kShiftJis));
  SqliteCatalogStore store(folder / "catalog.db");
  LoadOptions options;
  options.files = {file};
  std::ostringstream diagnostics;
  LoadCounts counts = LoadCatalogue(store, options, diagnostics);
  EXPECT_EQ(diagnostics.str(), "");
  EXPECT_EQ(counts.books, 2000u);
  EXPECT_GT(counts.loans, 0u);
}

TEST(CatalogGeneratorProgramTest, WritesTheSameFileForTheSameSeed) {
  test_support::TempDir folder("catalog-tools.");
  std::string generator = CATALOG_GENERATOR;
  std::string a = folder / "a.tsv", b = folder / "b.tsv";
  EXPECT_EQ(toolstest::RunTool(generator + " --count 300 --seed 9 --output " + a).exitCode, 0);
  EXPECT_EQ(toolstest::RunTool(generator + " --count 300 --seed 9 --output " + b).exitCode, 0);
  EXPECT_EQ(toolstest::ReadFile(a), toolstest::ReadFile(b));
  EXPECT_EQ(toolstest::ReadFile(a), Generate(300, 9));
  EXPECT_EQ(toolstest::RunTool(generator + " --seed 9").exitCode, 2);
}

}  // namespace
