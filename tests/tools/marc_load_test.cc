// MARC loads end to end: records the tests build are written as ISO 2709 (UTF-8 and
// MARC-8, through YAZ) and MARCXML, loaded by catalog_loader, and the catalogue compared
// with a table of what the default mapping must give, written out by hand; broken
// records, change loads on both engines, and the round trip catalogue -> MARC -> catalogue.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "marc/marc_mapping.h"
#include "marc/marcxml_writer.h"
#include "marc/unicode_text.h"
#include "tests/support/files.h"
#include "tests/support/postgres_test_server.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tools_test_support.h"
#include "tools/catalog_record.h"
#include "tools/marc_catalog_reader.h"
#include "tools/marc_iso2709_writer.h"
#include "tools/text_encoding.h"

namespace {

using marc::Field;
using marc::Record;
using test_support::TempDir;
using test_support::WriteBytes;
using toolstest::RunTool;
using toolstest::SourcePath;

Field Control(const std::string& tag, const std::string& data) {
  return Field{tag, "  ", data, {}};
}
Field Data(const std::string& tag, std::vector<marc::Subfield> subfields) {
  return Field{tag, "  ", "", std::move(subfields)};
}

Record MakeRecord(std::vector<Field> fields, char status = 'n') {
  Record record;
  record.leader[5] = status;
  record.fields = std::move(fields);
  return record;
}

// A Japanese record as libraries catalogue them: romanized 245/100/264 with the
// vernacular and its reading in linked 880s, ISBD punctuation, two subjects.
Record Japanese() {
  return MakeRecord({
      Control("001", "JP0001"),
      Data("020", {{'a', "978-4-10-101001-4 (文庫)"}, {'c', "750円"}}),
      Data("084", {{'a', "913.6"}}),
      Data("090", {{'a', "913.6"}, {'b', "ナ"}}),
      Data("100", {{'6', "880-02"}, {'a', "Natsume, Sōseki,"}}),
      Data("245", {{'6', "880-01"}, {'a', "Wagahai wa neko de aru /"}, {'c', "Natsume Sōseki."}}),
      Data("250", {{'a', "改版."}}),
      Data("264", {{'6', "880-03"}, {'b', "Shinchōsha,"}, {'c', "2003."}}),
      Data("300", {{'a', "610 p. ;"}, {'c', "16 cm"}}),
      Data("520", {{'a', "猫が語る。"}}),
      Data("650", {{'a', "小説（日本）"}}),
      Data("650", {{'a', "猫"}}),
      Data("852", {{'b', "1階 文庫"}, {'9', "0"}}),
      Data("880", {{'6', "245-01/$1"}, {'a', "吾輩は猫である /"}}),
      Data("880", {{'6', "245-01/$1"}, {'a', "ワガハイ ワ ネコ デ アル"}}),
      Data("880", {{'6', "100-02/$1"}, {'a', "夏目, 漱石,"}}),
      Data("880", {{'6', "100-02/$1"}, {'a', "ナツメ, ソウセキ"}}),
      Data("880", {{'6', "264-03/$1"}, {'b', "新潮社,"}}),
  });
}

// A Western record: 260, a corporate author, an LC call number, a character Shift_JIS
// lacks (é) and a loan class from the holdings.
Record Western() {
  return MakeRecord({
      Control("001", "EN-0002"),
      Data("020", {{'a', "0-306-40615-2"}}),
      Data("050", {{'a', "QA76.73"}, {'b', ".C153"}}),
      Data("110", {{'a', "Example Society."}, {'b', "Press Committee,"}}),
      Data("245", {{'a', "Café culture :"}, {'b', "a history /"}}),
      Data("260", {{'b', "Example Press,"}, {'c', "c1999."}}),
      Data("300", {{'a', "xii, 245 p."}}),
      Data("852", {{'b', "Stacks"}, {'9', "3"}}),
  });
}

// A kanji outside Shift_JIS with a variant form (鷗 is stored as 鴎) and one without.
Record Variants() {
  return MakeRecord(
      {Control("001", "JP0003"), Data("100", {{'a', "森鷗外"}}), Data("245", {{'a', "舞姫 😀"}})});
}

Record Deleted() { return MakeRecord({Control("001", "JP0004"), Data("245", {{'a', "x"}})}, 'd'); }

std::string Iso2709(const std::vector<Record>& records, bool marc8) {
  tools::Iso2709Writer writer(marc8);
  std::string out;
  for (const Record& record : records) writer.Append(record, out);
  return out;
}

std::string MarcXml(const std::vector<Record>& records) {
  std::string out = marc::MarcXmlHead();
  for (const Record& record : records) marc::AppendMarcXml(record, out);
  return out + marc::MarcXmlTail();
}

// The books of a catalogue, "|"-joined columns in UTF-8 (read back through iconv).
constexpr const char* kBookColumns =
    "MS_BOOKID, MS_SYOMEI, MS_SYOKANA, MS_CHOSYA, MS_CHOKANA, MS_SYUPAN, MS_ISBN, MS_KENMEI, "
    "MS_SEIKYU, MS_KINGAKU, MS_SYUNEN, MS_PAGE, MS_OOKISA, MS_NAIYO, "
    "COALESCE(SY_SYOZAI, ''), MS_KKUBUN, COALESCE(KA_USERID, '')";

std::string BooksQuery() {
  return std::string("SELECT ") + kBookColumns +
         " FROM BOOKMAST LEFT JOIN SYOZAI ON SY_CODE = MS_SYOZAI"
         " LEFT JOIN KASIDASI ON KA_BOOKID = MS_BOOKID ORDER BY MS_BOOKID";
}

std::vector<std::string> ToUtf8(const std::vector<std::string>& rows) {
  tools::TextConverter converter("UTF-8", "CP932");
  std::vector<std::string> out;
  for (const std::string& row : rows) out.push_back(converter.Convert(row));
  return out;
}

std::vector<std::string> SqliteBooks(const std::string& path) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, BooksQuery().c_str(), -1, &statement, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  std::vector<std::string> rows;
  while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
    std::string row;
    for (int c = 0; c < sqlite3_column_count(statement); ++c) {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
      if (c > 0) row += '|';
      if (text != nullptr) row.append(text, sqlite3_column_bytes(statement, c));
    }
    rows.push_back(row);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return ToUtf8(rows);
}

const std::string kLoader = CATALOG_LOADER;

// What the default mapping gives for the three records, written out by hand.
const std::vector<std::string> kExpectedBooks = {
    "EN-0002|Caf&#233; culture a history||Example Society. Press Committee||Example Press|"
    "0-306-40615-2||QA76.73 .C153||1999|245|||Stacks|3|",
    "JP0001|吾輩は猫である|ワガハイ ワ ネコ デ アル|夏目, 漱石|ナツメ, ソウセキ|新潮社|"
    "978-4-10-101001-4|小説（日本）; 猫|913.6|750|2003|610|16 cm|猫が語る。; 改版.|1階 文庫|0|",
    "JP0003|舞姫 &#128512;||森鴎外||||||||||||0|",
};

TEST(MarcLoadTest, EveryFormAndEncodingGivesTheMappedColumns) {
  const std::vector<Record> records = {Japanese(), Western(), Variants(), Deleted()};
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"utf8.mrc", Iso2709(records, false)},
      {"marc8.mrc", Iso2709(records, true)},
      {"records.xml", MarcXml(records)},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    TempDir folder;
    WriteBytes(folder / file.name, file.bytes);
    auto run = RunTool(kLoader + " --no-progress --sqlite " + (folder / "c.db") + " " +
                       (folder / file.name) + " 2>&1");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(SqliteBooks(folder / "c.db"), kExpectedBooks);
    EXPECT_NE(run.output.find("record 2 (EN-0002): title: U+00E9 has no Shift_JIS form; stored "
                              "as &#233;"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("record 3 (JP0003): title: U+1F600 has no Shift_JIS form"),
              std::string::npos);
    EXPECT_NE(run.output.find("skipped 1 records marked deleted"), std::string::npos);
    EXPECT_NE(run.output.find("loaded 3 books"), std::string::npos);
  }
}

// Bytes of a good record changed into the faults an export may hold; each is reported
// with its number and reason, and nothing is stored.
TEST(MarcLoadTest, BrokenRecordsAreReportedByNumberAndNothingIsStored) {
  const std::string good = Iso2709({Japanese()}, false);
  const std::string untitled = Iso2709({MakeRecord({Control("001", "NT1")})}, false);
  const std::string badUtf8 =
      Iso2709({MakeRecord({Control("001", "BU1"), Data("245", {{'a', "ok \xFF"}})})}, false);
  std::string badLength = good;
  badLength.replace(0, 5, "0x672");
  std::string badDirectory = good;
  badDirectory[24 + 3] = 'x';  // the first entry's field length
  std::string shortLength = good;
  shortLength.replace(0, 5, "00400");
  std::string badCoding = good;
  badCoding[9] = 'z';
  const struct {
    std::string bytes;
    std::string report;
  } cases[] = {
      {badLength, "record 2: bad leader: the record length '0x672' is not five digits"},
      {badDirectory, "record 2: Directory offset"},
      {shortLength, "record 2: bad leader: the record length 400 does not end at a record"},
      {badCoding, "record 2: bad leader: position 9 'z' is neither blank (MARC-8) nor a"},
      {untitled, "record 2 (NT1): title: is empty"},
      {badUtf8, "record 2 (BU1): title: not UTF-8 at byte 4"},
      {good.substr(0, good.size() - 10), "record 2: truncated: the leader gives"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    TempDir folder;
    // A good record before and after: reading goes on past the bad one.
    const std::string second = Iso2709({Western()}, false);
    WriteBytes(folder / "r.mrc",
               good + c.bytes + (c.report.find("truncated") == std::string::npos ? second : ""));
    auto run = RunTool(kLoader + " --no-progress --sqlite " + (folder / "c.db") + " " +
                       (folder / "r.mrc") + " 2>&1");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find(c.report), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1 bad records; nothing was loaded"), std::string::npos)
        << run.output;
  }
}

// A night's export applied to a catalogue: changed records replace their books by key
// (a lent-out book stays lent out), new ones are added, records marked deleted and keys
// of the list are removed with their loans; the index answers as a scan does.
class ChangeLoadTest : public ::testing::TestWithParam<bool> {};

TEST_P(ChangeLoadTest, NightReplacesAddsAndRemovesByKey) {
  const bool postgres = GetParam();
  TempDir folder;
  test_support::PostgresTestServer server(postgres ? "liraweb_marc_changes" : "unused", "C");
  if (postgres && !server.Available()) GTEST_SKIP() << "no PostgreSQL test server";
  const std::string target =
      postgres ? "--postgres '" + server.Conninfo() + "'" : "--sqlite " + (folder / "c.db");
  // A catalogue file line of a book with a title, a location and a borrower.
  auto line = [](const std::string& id, const std::string& title, const std::string& location,
                 const std::string& borrower) {
    return id + "\t" + title + std::string(13, '\t') + location + "\t0\t\t\t" + borrower + "\t\n";
  };
  WriteBytes(folder / "day.tsv", tools::HeaderLine() + "\n" + line("JP0001", "旧題", "書庫", "U1") +
                                     line("JP0003", "消える本", "", "U2") +
                                     line("K9", "鍵で消える本", "", "U3") +
                                     line("KEEP", "残る本", "", ""));
  auto first = RunTool(kLoader + " --no-progress " + target + " " + (folder / "day.tsv") + " 2>&1");
  ASSERT_EQ(first.exitCode, 0) << first.output;
  Record gone = Variants();
  gone.leader[5] = 'd';
  WriteBytes(folder / "night.mrc", Iso2709({Japanese(), Western(), gone}, false));
  WriteBytes(folder / "keys.txt", "# removed today\nK9\n\nNOSUCH\n");
  // A catalogue file line of the same night says the loan state, and replaces it.
  WriteBytes(folder / "night.tsv", tools::HeaderLine() + "\n" + line("KEEP", "残る本", "", "U9"));
  auto night =
      RunTool(kLoader + " --no-progress --changes " + target + " " + (folder / "night.mrc") + " " +
              (folder / "night.tsv") + " --delete " + (folder / "keys.txt") + " 2>&1");
  ASSERT_EQ(night.exitCode, 0) << night.output;
  EXPECT_NE(night.output.find("changes: 2 books replaced, 1 added, 2 removed, 1 keys to remove "
                              "not found"),
            std::string::npos)
      << night.output;
  const std::vector<std::string> expected = {
      kExpectedBooks[0],
      kExpectedBooks[1].substr(0, kExpectedBooks[1].size() - 1) + "|U1",
      "KEEP|残る本||||||||||||||0|U9",
  };
  // |U1 replaces the empty loan column of the expected row: the loan stays.
  std::vector<std::string> books;
  if (postgres) {
    books = ToUtf8(server.Rows(BooksQuery()));
    EXPECT_EQ(server.Value("SELECT COUNT(*) FROM KASIDASI"), "2");
  } else {
    books = SqliteBooks(folder / "c.db");
    auto check = RunTool(std::string(CATALOG_INDEX) + " check " + (folder / "c.db") + " 2>&1");
    EXPECT_EQ(check.exitCode, 0) << check.output;
  }
  EXPECT_EQ(books, expected);
}

INSTANTIATE_TEST_SUITE_P(Engines, ChangeLoadTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PostgreSQL" : "SQLite"; });

// The sample catalogue written by catalog_export and loaded again keeps every mapped
// column, through MARCXML, ISO 2709 and MARC-8; YAZ's own dump reads the MARCXML.
TEST(MarcRoundTripTest, CatalogueToMarcAndBackKeepsEveryMappedColumn) {
  TempDir folder;
  const std::string original = folder / "original.db";
  auto load = RunTool(kLoader + " --no-progress --no-index --sqlite " + original + " " +
                      SourcePath("site/catalogue/books.tsv") + " 2>&1");
  ASSERT_EQ(load.exitCode, 0) << load.output;
  std::vector<std::string> expected = SqliteBooks(original);
  // Loans are circulation, not bibliographic data: no MARC record carries them.
  for (std::string& row : expected) row.erase(row.rfind('|') + 1);
  for (const char* format : {"marcxml", "iso2709", "iso2709-marc8"}) {
    SCOPED_TRACE(format);
    const std::string records = folder / (std::string(format) + ".out");
    const std::string copy = folder / (std::string(format) + ".db");
    auto out = RunTool(std::string(CATALOG_EXPORT) + " --sqlite " + original + " --format " +
                       format + " --output " + records + " 2>&1");
    ASSERT_EQ(out.exitCode, 0) << out.output;
    auto back = RunTool(kLoader + " --no-progress --sqlite " + copy + " " + records + " 2>&1");
    ASSERT_EQ(back.exitCode, 0) << back.output;
    EXPECT_EQ(SqliteBooks(copy), expected);
  }
  auto dump =
      RunTool("yaz-marcdump -i marcxml -o line " + (folder / "marcxml.out") + " | grep -c '^001 '");
  EXPECT_EQ(dump.output, "198\n");
}

// A mapping file changes single columns; its mistakes name their line.
TEST(MarcMappingTest, MappingFileReplacesRulesAndNamesItsMistakes) {
  marc::Mapping mapping = marc::Mapping::Parse(
      "# local practice\nbook_id first 852$p\nlocation none\ntitle_kana first 880/245$a!kana "
      "246$a\n",
      "local.map");
  auto values = mapping.Read(MakeRecord({Data("245", {{'a', "題"}}), Data("246", {{'a', "ダイ"}}),
                                         Data("852", {{'b', "書庫"}, {'p', "B-77"}})}));
  EXPECT_EQ(values, (std::map<std::string, std::string>{
                        {"book_id", "B-77"}, {"title", "題"}, {"title_kana", "ダイ"}}));
  // One rule a column: a replaced rule is gone (it would decide what Write writes).
  std::map<std::string, int> rules;
  for (const marc::Rule& rule : mapping.Rules()) ++rules[rule.column];
  EXPECT_EQ(rules.size(), marc::kMappedColumns.size() - 1);
  EXPECT_EQ(rules.count("location"), 0u);
  for (const auto& [column, count] : rules) EXPECT_EQ(count, 1) << column;
  const struct {
    const char* line;
    const char* message;
  } mistakes[] = {
      {"shelf first 852$b", "local.map:2: 'shelf' is not a column a MARC record fills"},
      {"title best 245$a", "local.map:2: the rule after the column must be first, all or none"},
      {"title first", "local.map:2: no source given"},
      {"title first 245", "local.map:2: source '245': a data field needs its subfield codes"},
      {"title first 24$a", "local.map:2: source '24$a': '24' is not a field tag"},
      {"title first 245/100$a", "only an 880 field is linked"},
      {"title first 245$a!kana", "!kana and !text choose among linked 880 fields"},
      {"book_id first 001$a", "a control field (00X) has neither subfields nor script"},
  };
  for (const auto& m : mistakes) {
    try {
      marc::Mapping::Parse(std::string("# comment\n") + m.line, "local.map");
      ADD_FAILURE() << m.line << " was accepted";
    } catch (const marc::EMarcError& e) {
      EXPECT_NE(e.Message().find(m.message), std::string::npos) << e.Message();
    }
  }
}

}  // namespace

namespace {

// The column rules of the default mapping, field by field: punctuation, numbers, the
// choice between a vernacular 880, its reading and the plain field.
TEST(MarcMappingTest, DefaultMappingReadsEachColumnAsDocumented) {
  const struct {
    std::vector<Field> fields;
    const char* column;
    const char* value;  // "" for no value
  } cases[] = {
      {{Data("245", {{'a', "Title :"}, {'b', "sub /"}, {'c', "by X."}})}, "title", "Title sub"},
      {{Data("245", {{'a', "C++ ; a/b"}})}, "title", "C++ ; a/b"},
      {{Data("245", {{'a', "Roman"}}), Data("880", {{'6', "245-01"}, {'a', "漢字"}})},
       "title",
       "漢字"},
      {{Data("245", {{'a', "Roman"}}), Data("880", {{'6', "245-01"}, {'a', "カンジ"}})},
       "title",
       "Roman"},
      {{Data("880", {{'6', "245-01"}, {'a', "かんじ"}})}, "title_kana", ""},
      {{Data("880", {{'6', "100-01"}, {'a', "ローリング, J.K."}})},
       "author_kana",
       "ローリング, J.K."},
      {{Data("880", {{'6', "700-01"}, {'a', "ヤマダ"}})}, "author", ""},
      {{Data("700", {{'a', "Second,"}}), Data("100", {{'a', "First,"}})}, "author", "First"},
      {{Data("260", {{'c', "[昭和60 i.e. 1985]"}})}, "year", "1985"},
      {{Data("264", {{'c', "c2001"}}), Data("260", {{'c', "1999"}})}, "year", "2001"},
      {{Data("300", {{'a', "xii, 245 p. ;"}})}, "pages", "245"},
      {{Data("020", {{'a', "4-10-101001-3 (pbk.)"}, {'c', "¥1,200"}})}, "isbn", "4-10-101001-3"},
      {{Data("020", {{'c', "1200円 (税別)"}})}, "price", "1200"},
      {{Data("650", {{'a', "A."}}), Data("650", {{'a', "B"}})}, "subject", "A.; B"},
      {{Data("090", {{'a', "913.6"}, {'b', "ナ"}})}, "call_number", "913.6 ナ"},
      {{Data("852", {{'b', "  2階  "}})}, "location", "2階"},
  };
  for (const auto& c : cases) {
    auto values = marc::Mapping::Default().Read(MakeRecord(c.fields));
    auto found = values.find(c.column);
    EXPECT_EQ(found == values.end() ? std::string() : found->second, c.value) << c.column;
  }
}

// Write then Read gives every value back, for random values of every column.
TEST(MarcMappingTest, WrittenRecordsReadBackTheirValues) {
  const std::vector<std::string> words = {
      "猫", "ネコ", "Cat", "a/b", "x ;y", "夏目 漱石", "ナツメ, ソウセキ"};
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) % 1000; };
  for (int round = 0; round < 200; ++round) {
    std::map<std::string, std::string> values;
    for (std::string_view column : marc::kMappedColumns) {
      if (next() % 4 == 0) continue;
      std::string name(column);
      if (name == "price" || name == "pages") {
        values[name] = std::to_string(next() + 1);
      } else if (name == "year") {
        values[name] = std::to_string(1900 + next() % 125);
      } else if (name == "isbn") {
        values[name] = "4-" + std::to_string(next());
      } else if (name == "book_id") {
        values[name] = "B" + std::to_string(next());
      } else if (name == "title_kana" || name == "author_kana") {
        values[name] = next() % 2 ? "ネコ" : "ナツメ, ソウセキ";
      } else {
        values[name] = words[next() % words.size()] + " " + words[next() % words.size()];
      }
    }
    // A reading is kept with the field it reads, as a record holds it.
    if (!values.count("title")) values.erase("title_kana");
    if (!values.count("author")) values.erase("author_kana");
    EXPECT_EQ(marc::Mapping::Default().Read(marc::Mapping::Default().Write(values)), values);
  }
}

// UTF-8 to Shift_JIS against iconv: every character code page 932 holds gives iconv's
// bytes; the others their variant form or a character reference, never nothing.
TEST(MarcCharactersTest, EveryBasicPlaneCharacterAsIconvOrVariantOrReference) {
  tools::TextConverter iconv("CP932", "UTF-8");
  int variants = 0, references = 0;
  for (char32_t c = 1; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::string utf8;
    marc::AppendUtf8(c, utf8);
    std::vector<char32_t> unmapped;
    const std::string ours = tools::Utf8ToCatalogText(utf8, unmapped);
    std::string theirs;
    try {
      theirs = iconv.Convert(utf8);
    } catch (const platform::Exception&) {
      if (unmapped.empty()) {
        ++variants;
        EXPECT_TRUE(ours.size() == 2 && static_cast<unsigned char>(ours[0]) >= 0x81)
            << static_cast<unsigned>(c);
      } else {
        ++references;
        EXPECT_EQ(ours, "&#" + std::to_string(static_cast<unsigned>(c)) + ";");
      }
      continue;
    }
    EXPECT_EQ(tools::Utf8ToCatalogText(utf8, unmapped), theirs) << static_cast<unsigned>(c);
  }
  EXPECT_GT(variants, 0);
  EXPECT_GT(references, 0);
  std::vector<char32_t> unmapped;
  EXPECT_EQ(toolstest::Hex(tools::Utf8ToCatalogText("鷗", unmapped)), "89A8");
  EXPECT_THROW(tools::Utf8ToCatalogText("\xC0\xAF", unmapped), platform::Exception);
  EXPECT_THROW(tools::Utf8ToCatalogText("\xED\xA0\x80", unmapped), platform::Exception);
}

// MARCXML that is not well formed stops the load with the parser's line.
TEST(MarcLoadTest, MalformedMarcXmlNamesTheLine) {
  TempDir folder;
  std::string xml = MarcXml({Japanese(), Western()});
  xml.erase(xml.rfind("</record>"));
  WriteBytes(folder / "r.xml", xml);
  auto run = RunTool(kLoader + " --no-progress --sqlite " + (folder / "c.db") + " " +
                     (folder / "r.xml") + " 2>&1");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("not well-formed XML in record 2: line"), std::string::npos)
      << run.output;
}

}  // namespace
