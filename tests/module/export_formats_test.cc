// The formats written for other programs: citations that a hostile value cannot break
// out of, the CQL clauses as search conditions or diagnostics, the diagnostics' texts
// against YAZ's own list, and the MARC fields of a book.
#include <gtest/gtest.h>
#include <yaz/diagsrw.h>

#include <map>
#include <string>
#include <vector>

#include "marc/marc_mapping.h"
#include "marc/marcxml_writer.h"
#include "module/cql_plugin.h"
#include "module/cql_search.h"
#include "module/record_formats.h"
#include "module/sru_response.h"

namespace module {
namespace {

BookFields Book() {
  BookFields book;
  book.key = "B/1 x";
  book.title = "T{i}t\\le\r\nER  - x";
  book.author = "A_%&#$^~";
  book.year = "2001";
  return book;
}

TEST(RecordFormats, AValueCannotEndItsFieldOrRecord) {
  EXPECT_EQ(RisRecord(Book(), "http://h/s/data?ID=B%2F1"),
            "TY  - BOOK\r\nID  - B/1 x\r\nTI  - T{i}t\\le  ER  - x\r\nAU  - A_%&#$^~\r\n"
            "PY  - 2001\r\nUR  - http://h/s/data?ID=B%2F1\r\nER  - \r\n");
  EXPECT_EQ(BibtexRecord(Book(), "http://h{}\\/s"),
            "@book{liraweb-B_1_x,\n"
            "  title = {T\\{i\\}t\\textbackslash{}le  ER  - x},\n"
            "  author = {A\\_\\%\\&\\#\\$\\^{}\\~{}},\n  year = {2001},\n"
            "  url = {http://h%7B%7D%5C/s},\n}\n");
  EXPECT_EQ(SafeKey(""), "record");
  // XML 1.0 cannot hold a control character other than tab and line breaks at all.
  EXPECT_EQ(marc::XmlText("<a href=\"x\">&'\x01\x1f\t\n"),
            "&lt;a href=&quot;x&quot;&gt;&amp;&apos;\xEF\xBF\xBD\xEF\xBF\xBD\t\n");
  EXPECT_EQ(AsciiUrl("http://h\x82\xa0/ a"), "http://h%82%A0/%20a");
}

TEST(SruDiagnostics, MessagesAreThoseOfYaz) {
  for (int code :
       {kSruSystemError, kSruUnsupportedOperation, kSruUnsupportedVersion,
        kSruUnsupportedParameterValue, kSruMandatoryParameter, kSruQuerySyntax,
        kSruUnsupportedIndex, kSruUnsupportedRelation, kSruUnsupportedRelationModifier,
        kSruEmptyTerm, kSruMaskingUnsupported, kSruAnchoringUnsupported, kSruUnsupportedBoolean,
        kSruTooManyBooleans, kSruUnsupportedBooleanModifier, kSruFirstRecordOutOfRange,
        kSruUnknownSchema, kSruUnsupportedPacking, kSruSortUnsupported}) {
    EXPECT_EQ(SruDiagnosticMessage(code), yaz_diag_srw_str(code)) << code;
  }
}

CqlNode Clause(std::string index, std::string relation, std::string term, bool modified = false) {
  return {kCqlClause, std::move(index), std::move(relation), std::move(term), modified};
}
CqlNode Boolean(std::string op, bool modified = false) {
  return {kCqlBoolean, std::move(op), "", "", modified};
}

// The WHERE part of the statement the conditions write, lines joined by blanks.
std::string Where(const std::vector<Comparison>& conditions, bool loose) {
  platform::TStringList lines;
  AppendConditions(lines, conditions, loose);
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : " ") + line;
  return text;
}

TEST(CqlSearch, ClausesBecomeConditionsAndOrDistributesOverAnd) {
  struct Case {
    const char* name;
    std::vector<CqlNode> nodes;
    bool everyWord;
    std::string where;
  } cases[] = {
      {"title = one text",
       {Clause("dc.title", "=", "a b")},
       false,
       "WHERE ( MS_SYOMEI LIKE '%a b%' OR MS_SYOKANA LIKE '%a b%' )"},
      {"= splits words under WORDS=AND",
       {Clause("Publisher", "=", "a b")},
       true,
       "WHERE MS_SYUPAN LIKE '%a%' AND MS_SYUPAN LIKE '%b%'"},
      {"all",
       {Clause("bath.publisher", "all", "a b a")},
       false,
       "WHERE MS_SYUPAN LIKE '%a%' AND MS_SYUPAN LIKE '%b%'"},
      {"any",
       {Clause("subject", "any", "a b")},
       false,
       "WHERE ( MS_KENMEI LIKE '%a%' OR MS_KENMEI LIKE '%b%' )"},
      {"isbn is one number, read loosely",
       {Clause("bath.isbn", "=", "978-4-10-101001-4")},
       true,
       "WHERE MS_ISBN LIKE '%410101001%'"},
      {"escapes and end masks; quote doubled",
       {Clause("subject", "=", "*o\\*'x*")},
       false,
       "WHERE MS_KENMEI LIKE '%o*''x%'"},
      {"(a and b) or c",
       {Boolean("or"), Boolean("and"), Clause("subject", "=", "a"), Clause("publisher", "=", "b"),
        Clause("isbn", "=", "c")},
       false,
       "WHERE ( MS_KENMEI LIKE '%a%' OR MS_ISBN LIKE '%c%' ) AND "
       "( MS_SYUPAN LIKE '%b%' OR MS_ISBN LIKE '%c%' )"},
  };
  for (const Case& c : cases) {
    const CqlSearch search = SearchOfCqlNodes(c.nodes, {c.everyWord, c.everyWord});
    EXPECT_FALSE(search.diagnostic) << c.name;
    EXPECT_EQ(Where(search.conditions, c.everyWord), c.where) << c.name;
  }
}

TEST(CqlSearch, WhatTheSearchCannotDoIsADiagnostic) {
  std::vector<CqlNode> many;
  for (int i = 0; i < 8; ++i) many.push_back(Boolean("or"));
  for (int i = 0; i < 9; ++i) many.push_back(Clause("any", "all", "a b"));
  struct Case {
    const char* name;
    std::vector<CqlNode> nodes;
    int code;
    std::string details;
  } cases[] = {
      {"index", {Clause("dc.date", "=", "1")}, kSruUnsupportedIndex, "dc.date"},
      {"relation", {Clause("title", "<", "1")}, kSruUnsupportedRelation, "<"},
      {"relation modifier",
       {Clause("title", "=", "x", true)},
       kSruUnsupportedRelationModifier,
       "="},
      {"inner mask", {Clause("title", "=", "a*b")}, kSruMaskingUnsupported, "*"},
      {"anchor", {Clause("title", "=", "^a")}, kSruAnchoringUnsupported, "^"},
      {"empty term", {Clause("title", "=", "*")}, kSruEmptyTerm, "*"},
      {"not",
       {Boolean("not"), Clause("title", "=", "a"), Clause("title", "=", "b")},
       kSruUnsupportedBoolean,
       "not"},
      {"boolean modifier",
       {Boolean("and", true), Clause("title", "=", "a"), Clause("title", "=", "b")},
       kSruUnsupportedBooleanModifier,
       "and"},
      {"sortby",
       {{kCqlSortBy, "", "", "", false}, Clause("title", "=", "a")},
       kSruSortUnsupported,
       "sortby"},
      {"too many conditions once distributed", many, kSruTooManyBooleans, ""},
      {"not UTF-8", {Clause("title", "=", "\xff")}, kSruQuerySyntax, "not UTF-8"},
  };
  for (const Case& c : cases) {
    const CqlSearch search = SearchOfCqlNodes(c.nodes, {false, true});
    ASSERT_TRUE(search.diagnostic) << c.name;
    EXPECT_EQ(search.diagnostic->code, c.code) << c.name;
    EXPECT_EQ(search.diagnostic->details, c.details) << c.name;
    EXPECT_TRUE(search.conditions.empty()) << c.name;
  }
}

// The MARC record of a book is written by the catalogue's mapping, so the loader's reading
// of it gives back every column the export had: the values themselves are the oracle.
TEST(BookMarc, TheLoaderReadsBackWhatTheExportWrites) {
  auto full = [] {
    BookFields book;
    book.key = "100003";
    book.title = "吾輩は猫である";
    book.titleReading = "ワガハイ ワ ネコ デ アル";
    book.author = "夏目漱石";
    book.authorReading = "ナツメ ソウセキ";
    book.publisher = "岩波書店";
    book.year = "1990";
    book.isbn = "4-00-310101-4";
    book.subject = "小説";
    book.callNumber = "913.6/ナ";
    book.price = "720";
    book.pages = "543";
    book.size = "15cm";
    book.contents = "猫の目から見た <人間> & 社会";
    book.location = "開架";
    return book;
  };
  BookFields noReadings = full();
  noReadings.titleReading.clear();
  noReadings.authorReading.clear();
  BookFields titleOnly;
  titleOnly.key = "B-7";
  titleOnly.title = "Title";
  for (const BookFields& book : {full(), noReadings, titleOnly}) {
    const std::map<std::string, std::string> read =
        marc::Mapping::Default().Read(BookMarcRecord(book));
    std::map<std::string, std::string> expected = {{"book_id", book.key},
                                                   {"title", book.title},
                                                   {"title_kana", book.titleReading},
                                                   {"author", book.author},
                                                   {"author_kana", book.authorReading},
                                                   {"publisher", book.publisher},
                                                   {"year", book.year},
                                                   {"isbn", book.isbn},
                                                   {"subject", book.subject},
                                                   {"call_number", book.callNumber},
                                                   {"price", book.price},
                                                   {"pages", book.pages},
                                                   {"size", book.size},
                                                   {"contents", book.contents},
                                                   {"location", book.location}};
    std::erase_if(expected, [](const auto& column) { return column.second.empty(); });
    EXPECT_EQ(read, expected) << book.key;
  }
}

// Inside an SRU response a record stands alone: it declares its namespace, and holds the
// same fields as a record of an export file.
TEST(BookMarc, AStandaloneRecordDeclaresItsNamespace) {
  BookFields book;
  book.key = "1";
  book.title = "a\x01<b>";
  const marc::Record record = BookMarcRecord(book);
  const std::string standalone = marc::MarcXmlRecord(record);
  std::string inCollection;
  marc::AppendMarcXml(record, inCollection);
  EXPECT_EQ(standalone.rfind("<record xmlns=\"http://www.loc.gov/MARC21/slim\">\n", 0), 0u);
  // The same lines, two blanks less indented, after the opening tag.
  std::string reindented;
  for (std::size_t at = 0; at < inCollection.size();) {
    const std::size_t end = inCollection.find('\n', at) + 1;
    reindented += inCollection.substr(at + 2, end - at - 2);
    at = end;
  }
  EXPECT_EQ(standalone.substr(standalone.find('\n')), reindented.substr(reindented.find('\n')));
  EXPECT_NE(standalone.find("a\xEF\xBF\xBD&lt;b&gt;"), std::string::npos) << standalone;
}

}  // namespace
}  // namespace module
