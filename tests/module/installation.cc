#include "tests/module/installation.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <regex>
#include <stdexcept>

#include "tests/support/files.h"

namespace module_e2e {

namespace {

// Every column the program reads, in the order of the catalogue table.
constexpr const char* kColumns[] = {
    "MS_BOOKID", "MS_SYOMEI", "MS_SYOKANA", "MS_CHOSYA", "MS_CHOKANA", "MS_SYUPAN", "MS_ISBN",
    "MS_KENMEI", "MS_SEIKYU", "MS_TMARK",   "MS_TFMSUU", "MS_KKUBUN",  "KA_USERID", "MS_KINGAKU",
    "MS_SYUNEN", "MS_PAGE",   "MS_OOKISA",  "MS_NAIYO",  "SY_SYOZAI",
};

class Catalogue {
 public:
  explicit Catalogue(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) Fail("open");
  }
  ~Catalogue() { sqlite3_close(db_); }

  void Execute(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }

  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) Fail(sql);
    return statement;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db_));
  }
  sqlite3* db_ = nullptr;
};

// Reads one field of a record of Error.txt at pos: bare up to a comma or LF, or quoted
// with inner quotes doubled.
std::string ReadLogField(const std::string& text, std::size_t& pos) {
  std::string field;
  if (pos < text.size() && text[pos] == '"') {
    for (++pos; pos < text.size(); ++pos) {
      if (text[pos] == '"') {
        if (pos + 1 < text.size() && text[pos + 1] == '"') {
          field.push_back('"');
          ++pos;
        } else {
          ++pos;
          break;
        }
      } else {
        field.push_back(text[pos]);
      }
    }
    return field;
  }
  while (pos < text.size() && text[pos] != ',' && text[pos] != '\n') field.push_back(text[pos++]);
  return field;
}

}  // namespace

Installation::Installation() : folder_("module_e2e_") {
  Write("liraweb.conf", kDefaultConf);
  Write("html/top.html", kTopTemplate);
  Write("html/list.html", kListTemplate);
  Write("html/error.html", kErrorTemplate);
  Write("html/page_.html", kDetailTemplate);
  Write("sql/Find.sql", "SELECT *\r\nFROM BOOKS\r\n");
  Write("sql/Prop.sql", "SELECT * FROM BOOKS\r\nWHERE MS_BOOKID = :BOOKID\r\n");
  Write("dbengine.conf", "[catalogue]\nDRIVER=SQLITE\nPATH=catalog.db\n");
  std::string create = "CREATE TABLE BOOKS (";
  for (const char* column : kColumns) create += std::string(column) + " TEXT NOT NULL,";
  create.back() = ')';
  Catalogue(PathOf("catalog.db")).Execute(create);
}

void Installation::Write(std::string_view relative, std::string_view bytes) const {
  test_support::WriteBytes(PathOf(relative), bytes);
}

void Installation::Remove(std::string_view relative) const {
  std::filesystem::remove(PathOf(relative));
}

void Installation::AddBooks(const std::vector<Book>& books) const {
  Catalogue catalogue(PathOf("catalog.db"));
  std::string insert = "INSERT INTO BOOKS VALUES (";
  for (std::size_t i = 0; i < std::size(kColumns); ++i) insert += i ? ",?" : "?";
  insert += ")";
  catalogue.Execute("BEGIN");
  sqlite3_stmt* statement = catalogue.Prepare(insert);
  for (const Book& book : books) {
    for (std::size_t i = 0; i < std::size(kColumns); ++i) {
      auto value = book.find(kColumns[i]);
      const std::string text = value == book.end() ? std::string() : value->second;
      // The bytes go in as they are: SQLite keeps text it is given without checking it.
      sqlite3_bind_text(statement, static_cast<int>(i + 1), text.data(),
                        static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    if (sqlite3_step(statement) != SQLITE_DONE) throw std::runtime_error("insert failed");
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);
  catalogue.Execute("COMMIT");
}

std::string Installation::CatalogueDump() const {
  Catalogue catalogue(PathOf("catalog.db"));
  std::string dump;
  sqlite3_stmt* tables = catalogue.Prepare("SELECT name FROM sqlite_master ORDER BY name");
  while (sqlite3_step(tables) == SQLITE_ROW) {
    dump += "table " + std::string(reinterpret_cast<const char*>(sqlite3_column_text(tables, 0))) +
            "\n";
  }
  sqlite3_finalize(tables);
  sqlite3_stmt* rows = catalogue.Prepare("SELECT * FROM BOOKS ORDER BY rowid");
  while (sqlite3_step(rows) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(rows); ++i) {
      const auto* text = static_cast<const char*>(sqlite3_column_blob(rows, i));
      dump.append(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(rows, i)));
      dump += "|";
    }
    dump += "\n";
  }
  sqlite3_finalize(rows);
  return dump;
}

test_support::ChildResult Installation::Get(std::string_view pathInfo,
                                            std::string_view query) const {
  return Run({{"PATH_INFO", std::string(pathInfo)}, {"QUERY_STRING", std::string(query)}});
}

test_support::ChildResult Installation::Run(const std::map<std::string, std::string>& variables,
                                            std::string_view body, std::string_view program) const {
  test_support::ChildRun run;
  run.program = program;
  run.workingDirectory = folder_.Path();
  run.variables = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                   {"REQUEST_METHOD", "GET"},
                   {"HTTP_HOST", "lib.example"},
                   {"SCRIPT_NAME", "/cgi-bin/liraweb"},
                   {"DBENGINE_CONFIG", PathOf("dbengine.conf")}};
  for (const auto& [name, value] : variables) {
    if (value.empty()) {
      run.variables.erase(name);
    } else {
      run.variables[name] = value;
    }
  }
  run.input = body;
  test_support::ChildResult result = test_support::RunChild(run);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.errors, "");
  return result;
}

std::vector<LogEntry> Installation::LogEntries() const {
  const std::string text = test_support::ReadWholeFile(PathOf("Error.txt"));
  std::vector<LogEntry> entries;
  if (text.empty()) return entries;
  const std::string banner = "    LIRA WEB ERROR LOG    \r\n";
  EXPECT_EQ(text.substr(0, banner.size()), banner);
  const std::regex date(R"(\d{4}/\d{2}/\d{2}( \d{1,2}:\d{2}:\d{2})?)");
  for (std::size_t pos = banner.size(); pos < text.size();) {
    std::string fields[3];
    for (int i = 0; i < 3; ++i) {
      if (i > 0) {
        EXPECT_EQ(text[pos], ',') << text;
        ++pos;
      }
      fields[i] = ReadLogField(text, pos);
    }
    EXPECT_TRUE(std::regex_match(fields[0], date)) << fields[0];
    EXPECT_EQ(text[pos], '\n') << text;
    ++pos;
    entries.push_back({fields[1], fields[2]});
  }
  return entries;
}

std::string ConfWith(std::string_view key, std::string_view value) {
  std::string conf(kDefaultConf);
  const std::string setting = std::string(key) + "=";
  const std::size_t at = conf.find(setting);
  conf.replace(at, conf.find("\r\n", at) - at, setting + std::string(value));
  return conf;
}

void ExpectSecondsPage(const std::string& output) {
  const std::string header = "Content:\r\n\r\n";
  const std::string seconds = output.substr(output.find(header) + header.size());
  EXPECT_TRUE(std::regex_match(seconds, std::regex(R"(0|0\.\d{1,3}|[1-9]\d*(\.\d{1,3})?)")))
      << seconds;
  EXPECT_EQ(output, Page(seconds));
}

std::string ServerError(std::string_view className, std::string_view message) {
  // The messages of these tests hold no "&", "<", ">" or '"'; their quotes are shown as
  // character references in the page and as they are in the status line.
  std::string shown;
  for (char c : message) {
    if (c == '\'') {
      shown += "&#39;";
    } else {
      shown.push_back(c);
    }
  }
  return test_support::ServerError(className, message, shown);
}

}  // namespace module_e2e
