#include "tools/marc_export.h"

#include <sqlite3.h>

#include <memory>

#include "marc/marcxml_writer.h"
#include "marc/unicode_text.h"
#include "tools/catalog_error.h"
#include "tools/marc_iso2709_writer.h"
#include "tools/text_encoding.h"

namespace tools {

namespace {

// The catalogue columns of a MARC mapping and the database columns holding them.
constexpr std::pair<const char*, const char*> kColumns[] = {
    {"book_id", "MS_BOOKID"},   {"title", "MS_SYOMEI"},        {"title_kana", "MS_SYOKANA"},
    {"author", "MS_CHOSYA"},    {"author_kana", "MS_CHOKANA"}, {"publisher", "MS_SYUPAN"},
    {"isbn", "MS_ISBN"},        {"subject", "MS_KENMEI"},      {"call_number", "MS_SEIKYU"},
    {"price", "MS_KINGAKU"},    {"year", "MS_SYUNEN"},         {"pages", "MS_PAGE"},
    {"size", "MS_OOKISA"},      {"contents", "MS_NAIYO"},      {"location", "SY_SYOZAI"},
    {"loan_class", "MS_KKUBUN"}};

}  // namespace

std::map<std::string, std::string> CatalogueValuesToUtf8(
    const std::map<std::string, std::string>& shiftJis) {
  static TextConverter converter("UTF-8", "CP932");
  std::map<std::string, std::string> values;
  for (const auto& [column, text] : shiftJis) {
    if (!text.empty()) values[column] = marc::ReadReferences(converter.Convert(text));
  }
  return values;
}

std::uint64_t ExportMarc(const std::string& sqlitePath, const marc::Mapping& mapping,
                         MarcOutput output, std::ostream& out) {
  sqlite3* db = nullptr;
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> owner(nullptr, &sqlite3_close);
  int rc = sqlite3_open_v2(sqlitePath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  owner.reset(db);
  auto fail = [&](const std::string& doing) {
    throw ECatalogError(sqlitePath + ": " + doing + ": " + sqlite3_errmsg(db));
  };
  if (rc != SQLITE_OK) fail("cannot open the database");
  std::string sql = "SELECT ";
  for (const auto& [name, column] : kColumns) {
    if (name != kColumns[0].first) sql += ", ";
    sql += column;
  }
  sql += " FROM BOOKMAST LEFT OUTER JOIN SYOZAI ON SY_CODE = MS_SYOZAI ORDER BY BOOKMAST.rowid";
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
    fail("cannot read the books");
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(raw, &sqlite3_finalize);

  std::unique_ptr<Iso2709Writer> iso;
  if (output != MarcOutput::kMarcXml)
    iso = std::make_unique<Iso2709Writer>(output == MarcOutput::kIso2709Marc8);
  std::string buffer = output == MarcOutput::kMarcXml ? marc::MarcXmlHead() : std::string();
  std::uint64_t count = 0;
  std::map<std::string, std::string> shiftJis;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    int index = 0;
    for (const auto& [name, column] : kColumns) {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, index));
      shiftJis[name] =
          text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(raw, index)))
               : std::string();
      ++index;
    }
    marc::Record record;
    try {
      record = mapping.Write(CatalogueValuesToUtf8(shiftJis));
    } catch (const ECatalogError& e) {
      throw ECatalogError(sqlitePath + ": book " + shiftJis["book_id"] + ": " + e.Message());
    }
    if (iso)
      iso->Append(record, buffer);
    else
      marc::AppendMarcXml(record, buffer);
    ++count;
    if (buffer.size() > (1 << 20)) {
      out << buffer;
      buffer.clear();
    }
  }
  if (rc != SQLITE_DONE) fail("cannot read the books");
  if (output == MarcOutput::kMarcXml) buffer += marc::MarcXmlTail();
  out << buffer;
  if (!out) throw ECatalogError("cannot write the MARC records");
  return count;
}

}  // namespace tools
