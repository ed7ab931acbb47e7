// End-to-end: the any-field box (ANY), the best-match order (ORDER=RELEVANCE) and the
// other fields' counts of a search that found nothing, against a reference computed
// here from the books themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <random>
#include <regex>
#include <tuple>

#include "module/japanese_texts.h"
#include "tests/module/installation.h"

namespace module_e2e {
namespace {

namespace texts = module::texts;

// Lower-case words only: the folded comparison of the catalogue alias then compares
// bytes, so a plain substring test is the reference.
const char* const kWords[] = {"ab", "cd", "abc", "x", "dab", "cdx"};

struct RefBook {
  std::string id, title, titleKana, author, authorKana, publisher, isbn, subject;
  std::optional<int> year;
};

bool Holds(const std::string& text, const std::string& word) {
  return text.find(word) != std::string::npos;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

bool HoldsEvery(const std::string& column, const std::vector<std::string>& words) {
  return std::all_of(words.begin(), words.end(), [&](auto& w) { return Holds(column, w); });
}

// The reference: the books the any-field text finds, best match first. With authorOnly
// (NoKanaFind) the author's reading is neither searched nor ranked.
std::vector<std::string> RankedIds(const std::vector<RefBook>& books, const std::string& text,
                                   bool authorOnly = false) {
  const std::vector<std::string> words = Split(text);
  std::vector<std::tuple<int, bool, int, std::string>> ranked;
  for (const RefBook& original : books) {
    RefBook b = original;
    if (authorOnly) b.authorKana = "";
    const std::string columns[] = {b.title,     b.titleKana, b.author, b.authorKana,
                                   b.publisher, b.isbn,      b.subject};
    const bool found = std::all_of(words.begin(), words.end(), [&](auto& w) {
      return std::any_of(std::begin(columns), std::end(columns),
                         [&](auto& c) { return Holds(c, w); });
    });
    if (!found) continue;
    auto some = [&](auto&& holds) { return std::any_of(words.begin(), words.end(), holds); };
    const bool titleAndAuthor = std::all_of(words.begin(), words.end(), [&](auto& w) {
      return Holds(b.title, w) || Holds(b.titleKana, w) || Holds(b.author, w) ||
             Holds(b.authorKana, w);
    });
    int tier = 6;
    if (b.title == text || b.titleKana == text) {
      tier = 0;
    } else if (b.title.starts_with(text) || b.titleKana.starts_with(text)) {
      tier = 1;
    } else if (titleAndAuthor && some([&](auto& w) {
                 return b.author.starts_with(w) || b.authorKana.starts_with(w);
               }) &&
               some([&](auto& w) {
                 return b.title.starts_with(w) || b.titleKana.starts_with(w) ||
                        b.title.ends_with(w) || b.titleKana.ends_with(w);
               })) {
      tier = 2;
    } else if (HoldsEvery(b.title, words) || HoldsEvery(b.titleKana, words)) {
      tier = 3;
    } else if (b.author == text || b.authorKana == text || HoldsEvery(b.author, words) ||
               HoldsEvery(b.authorKana, words)) {
      tier = 4;
    } else if (titleAndAuthor) {
      tier = 5;
    }
    ranked.emplace_back(tier, !b.year.has_value(), -b.year.value_or(0), b.id);
  }
  std::sort(ranked.begin(), ranked.end());
  std::vector<std::string> ids;
  for (const auto& r : ranked) ids.push_back(std::get<3>(r));
  return ids;
}

std::string RandomPhrase(std::mt19937& random, int most) {
  std::string text;
  const int count = static_cast<int>(random() % (most + 1));
  for (int i = 0; i < count; ++i)
    text += (i ? " " : "") + std::string(kWords[random() % std::size(kWords)]);
  return text;
}

std::string UrlWords(const std::string& text) {
  std::string encoded = text;
  std::replace(encoded.begin(), encoded.end(), ' ', '+');
  return encoded;
}

const std::string kSettings =
    std::string(kDefaultConf) + "WORDS=AND\r\nANY_FIELD=1\r\nRELEVANCE_ORDER=1\r\n";

class BestMatch : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 random(24);
    std::vector<Book> rows;
    for (int i = 0; i < 90; ++i) {
      RefBook b;
      b.id = "B" + std::to_string(100 + i);
      b.title = RandomPhrase(random, 3);
      if (b.title.empty()) b.title = "zz";
      b.titleKana = random() % 3 == 0 ? RandomPhrase(random, 2) : "";
      b.author = RandomPhrase(random, 2);
      b.authorKana = random() % 3 == 0 ? RandomPhrase(random, 1) : "";
      b.publisher = random() % 4 == 0 ? RandomPhrase(random, 1) : "";
      b.isbn = random() % 6 == 0 ? "978" + std::string(kWords[random() % std::size(kWords)]) : "";
      b.subject = random() % 4 == 0 ? RandomPhrase(random, 1) : "";
      if (random() % 5) b.year = 1990 + static_cast<int>(random() % 6);
      Book row = {{"MS_BOOKID", b.id},          {"MS_SYOMEI", b.title},
                  {"MS_SYOKANA", b.titleKana},  {"MS_CHOSYA", b.author},
                  {"MS_CHOKANA", b.authorKana}, {"MS_SYUPAN", b.publisher},
                  {"MS_ISBN", b.isbn},          {"MS_KENMEI", b.subject}};
      if (b.year) row["MS_SYUNEN"] = std::to_string(*b.year);
      rows.push_back(row);
      books_.push_back(b);
    }
    site_.AddBooks(rows);
    site_.Write("liraweb.conf", kSettings);
  }

  // The keys of every page of the search, in page order, and the count of the first page.
  std::vector<std::string> AllPages(const std::string& query, int& count) {
    static const std::regex kKey("/data\\?ID=([^&]*)&");
    std::vector<std::string> ids;
    count = 0;
    for (int page = 0; page < 10; ++page) {
      const std::string output =
          site_.Get("/list", query + "&PAGENUM=" + std::to_string(page)).output;
      const std::size_t at = output.find("LIST ");
      if (at == std::string::npos) break;
      count = std::stoi(output.substr(at + 5));
      for (std::sregex_iterator m(output.begin(), output.end(), kKey), end; m != end; ++m)
        ids.push_back((*m)[1]);
    }
    return ids;
  }

  Installation site_;
  std::vector<RefBook> books_;
};

TEST_F(BestMatch, AnyFieldFindsEveryWordInSomeColumnRankedAsTheReferenceOnEveryPage) {
  std::mt19937 random(2424);
  int searches = 0, broad = 0, differsWithoutReading = 0;
  for (int i = 0; i < 40; ++i) {
    const std::string text = RandomPhrase(random, 2);
    if (text.empty()) continue;
    const std::vector<std::string> expected = RankedIds(books_, text);
    int count = 0;
    EXPECT_EQ(AllPages("ANY=" + UrlWords(text) + "&ORDER=RELEVANCE", count), expected) << text;
    EXPECT_EQ(count, static_cast<int>(expected.size())) << text;
    // In any letter case, and without ORDERKIND mattering.
    EXPECT_EQ(AllPages("ANY=" + UrlWords(text) + "&ORDER=relevance&ORDERKIND=DESC", count),
              expected);
    // NoKanaFind leaves the author's reading out of the box as out of the author field.
    const std::vector<std::string> authorOnly = RankedIds(books_, text, true);
    EXPECT_EQ(AllPages("ANY=" + UrlWords(text) + "&ORDER=RELEVANCE&NoKanaFind=1", count),
              authorOnly)
        << text;
    differsWithoutReading += authorOnly != expected;
    ++searches;
    broad += expected.size() > 20;
  }
  EXPECT_GT(searches, 20);
  EXPECT_GT(broad, 3);  // several results run over more than one page
  EXPECT_GT(differsWithoutReading, 3);
  // The condition summary names the box and the order.
  const std::string page = site_.Get("/list", "PAGENUM=0&ANY=ab+cd&ORDER=RELEVANCE").output;
  EXPECT_NE(page.find(std::string(texts::kConditionAny) + "ab cd</td></tr>"), std::string::npos);
  EXPECT_NE(page.find(std::string(texts::kConditionOrder) + std::string(texts::kSortByRelevance) +
                      "</td></tr>"),
            std::string::npos);
}

// The any-field box, the ranking and the counts are new settings' and a new tag's: an
// installation without them answers as before.
TEST_F(BestMatch, WithoutTheSettingsTheNewValuesAreNotRead) {
  site_.Write("liraweb.conf", std::string(kDefaultConf) + "WORDS=AND\r\n");
  const std::string noKeyword = site_.Get("/list", "PAGENUM=0&ANY=ab").output;
  EXPECT_NE(noKeyword.find("ERROR"), std::string::npos) << noKeyword;
  // ORDER=RELEVANCE is a column name as any other, and no such column exists.
  const std::string noColumn = site_.Get("/list", "PAGENUM=0&BOOKNAME=ab&ORDER=RELEVANCE").output;
  EXPECT_NE(noColumn.find("RELEVANCE"), std::string::npos) << noColumn;
  EXPECT_EQ(noColumn.find("LIST "), std::string::npos) << noColumn;
}

// 「著者名で探すと 8 件」: one link a field that finds books with the searched text,
// with the reference's count, in the page's order; none for a field that finds nothing
// or for the field just searched. Publishers and subjects are one word and ISBNs hold
// no blank, so two words in those fields find nothing.
TEST_F(BestMatch, NothingFoundOffersTheOtherFieldsWithTheirCounts) {
  site_.Write("html/error.html", "ERROR <#ERR_NAME>\r\n<#OTHER_FIELD_HITS>");
  auto inEither = [](const std::string& a, const std::string& b,
                     const std::vector<std::string>& words) {
    return std::all_of(words.begin(), words.end(),
                       [&](auto& w) { return Holds(a, w) || Holds(b, w); });
  };
  struct Field {
    std::string name;
    std::string_view label;
    std::function<bool(const RefBook&, const std::string&)> finds;
  };
  const Field fields[] = {
      {"ANY", texts::kFieldAny, nullptr},
      {"BOOKNAME", texts::kFieldBookName,
       [&](const RefBook& b, const std::string& t) {
         return inEither(b.title, b.titleKana, Split(t));
       }},
      {"CHOSYA", texts::kFieldChosya,
       [&](const RefBook& b, const std::string& t) {
         return inEither(b.author, b.authorKana, Split(t));
       }},
      {"SYUPAN", texts::kFieldSyupan,
       [&](const RefBook& b, const std::string& t) { return HoldsEvery(b.publisher, Split(t)); }},
      {"ISBN", texts::kFieldIsbn,
       [&](const RefBook& b, const std::string& t) { return Holds(b.isbn, t); }},
      {"KENMEI", texts::kFieldKenmei,
       [&](const RefBook& b, const std::string& t) { return HoldsEvery(b.subject, Split(t)); }},
  };
  const std::regex kLink("<li><a href=\"([^\"]*)\">([^<]*)</a></li>");
  int links = 0;
  for (const std::string searched : {"SYUPAN", "ISBN", "KENMEI"}) {
    for (const std::string text : {"ab cd", "x dab", "cd abc"}) {
      std::string expected;
      for (const Field& field : fields) {
        if (field.name == searched) continue;
        const std::size_t count =
            field.finds ? std::count_if(books_.begin(), books_.end(),
                                        [&](const RefBook& b) { return field.finds(b, text); })
                        : RankedIds(books_, text).size();
        if (count == 0) continue;
        expected += "../liraweb/list?PAGENUM=0&amp;" + field.name + "=" + UrlWords(text) +
                    "&amp;ORDER=RELEVANCE " + std::string(field.label) +
                    std::string(texts::kOtherFieldMiddle) + std::to_string(count) +
                    std::string(texts::kOtherFieldTail) + "\n";
        ++links;
      }
      // NoKanaFind is not carried by the links, so it changes none of their counts.
      for (const std::string noKanaFind : {"", "&NoKanaFind=1"}) {
        const std::string page = site_
                                     .Get("/list", "PAGENUM=0&" + searched + "=" + UrlWords(text) +
                                                       "&ORDER=RELEVANCE" + noKanaFind)
                                     .output;
        std::string shown;
        for (std::sregex_iterator m(page.begin(), page.end(), kLink), end; m != end; ++m)
          shown += (*m)[1].str() + " " + (*m)[2].str() + "\n";
        EXPECT_EQ(shown, expected) << searched << "=" << text << noKanaFind;
      }
    }
  }
  EXPECT_GT(links, 12);
  // A list page, or a notice of another kind, shows no counts.
  EXPECT_EQ(site_.Get("/list", "PAGENUM=0").output.find("<li>"), std::string::npos);
}

// Under MATCH=LOOSE a word written as an ISBN is compared with the ISBN column as the
// ISBN field compares it (its core, so either form of the number finds the book), and
// any other word as it stands: 第1巻 must not find every book whose ISBN holds a 1.
TEST(AnyField, LooseIsbnWordsAndOtherWordsWithDigits) {
  Installation site;
  site.AddBooks({{{"MS_BOOKID", "1"}, {"MS_SYOMEI", "\x90\xaf \x91\xe6\x31\x8a\xaa"}},  // 星 第1巻
                 {{"MS_BOOKID", "2"}, {"MS_SYOMEI", "x"}, {"MS_ISBN", "4-10-101001-4"}},
                 {{"MS_BOOKID", "3"}, {"MS_SYOMEI", "y"}, {"MS_ISBN", "978-4-10-101001-4"}}});
  site.Write("liraweb.conf", kSettings);
  site.Write("dbengine.conf", "[catalogue]\nDRIVER=SQLITE\nPATH=catalog.db\nMATCH=LOOSE\n");
  static const std::regex kKey("/data\\?ID=([^&]*)&");
  const std::pair<const char*, const char*> cases[] = {
      {"ANY=%91%E6%31%8A%AA", "1"},  // 第1巻: the title only
      {"ANY=9784101010014", "2 3"},  // an ISBN-13 finds the ISBN-10 too
      {"ANY=4-10-101001-4", "2 3"},  // and the other way round
      {"ANY=101001+x", "2"},         // a part of the number and a word of the title
      {"ANY=1", "1 2 3"},            // a digit alone is a digit in any column
  };
  for (const auto& [query, expected] : cases) {
    const std::string output = site.Get("/list", std::string(query) + "&PAGENUM=0").output;
    std::string found;
    for (std::sregex_iterator m(output.begin(), output.end(), kKey), end; m != end; ++m)
      found += (found.empty() ? "" : " ") + (*m)[1].str();
    EXPECT_EQ(found, expected) << query;
  }
}

}  // namespace
}  // namespace module_e2e
