#include "tools/sqlite_catalog_store.h"

#include "tools/catalog_error.h"
#include "tools/catalog_schema.h"

namespace tools {

namespace {

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

void BindCount(sqlite3_stmt* statement, int index, const std::optional<int>& value) {
  if (value)
    sqlite3_bind_int(statement, index, *value);
  else
    sqlite3_bind_null(statement, index);
}

}  // namespace

SqliteCatalogStore::SqliteCatalogStore(std::string path) : path_(std::move(path)) {
  if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK)
    Fail("cannot open the database");
}

SqliteCatalogStore::~SqliteCatalogStore() {
  sqlite3_finalize(insertBook_);
  sqlite3_finalize(insertLoan_);
  sqlite3_finalize(insertLocation_);
  sqlite3_close(db_);
}

void SqliteCatalogStore::Fail(const std::string& doing) const {
  throw ECatalogError(path_ + ": " + doing + ": " + sqlite3_errmsg(db_));
}

void SqliteCatalogStore::Execute(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail("cannot run SQL");
}

sqlite3_stmt* SqliteCatalogStore::Prepare(const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK)
    Fail("cannot prepare SQL");
  return statement;
}

void SqliteCatalogStore::Step(sqlite3_stmt* statement) {
  int rc = sqlite3_step(statement);
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  if (rc != SQLITE_DONE) Fail("cannot store");
}

void SqliteCatalogStore::Begin() {
  // A load is one transaction; without a journal sync per row a large file loads in
  // seconds, and an interrupted load still leaves the old catalogue.
  Execute("PRAGMA synchronous = NORMAL");
  Execute("BEGIN IMMEDIATE");
  Execute(kCatalogSchema);
  insertBook_ = Prepare(
      "INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI, MS_SYOKANA, MS_CHOSYA, MS_CHOKANA, "
      "MS_SYUPAN, MS_ISBN, MS_KENMEI, MS_SEIKYU, MS_KINGAKU, MS_SYUNEN, MS_PAGE, MS_OOKISA, "
      "MS_NAIYO, MS_SYOZAI, MS_KKUBUN, MS_TMARK, MS_TFMSUU) "
      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insertLoan_ = Prepare("INSERT INTO KASIDASI (KA_BOOKID, KA_USERID, KA_KIGEN) VALUES (?, ?, ?)");
  insertLocation_ = Prepare("INSERT INTO SYOZAI (SY_CODE, SY_SYOZAI) VALUES (?, ?)");
}

void SqliteCatalogStore::Clear() {
  Execute("DELETE FROM KASIDASI; DELETE FROM BOOKMAST; DELETE FROM SYOZAI;");
}

std::map<std::string, int> SqliteCatalogStore::Locations() {
  std::map<std::string, int> locations;
  sqlite3_stmt* statement = Prepare("SELECT SY_CODE, SY_SYOZAI FROM SYOZAI");
  while (sqlite3_step(statement) == SQLITE_ROW) {
    const char* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
    locations[std::string(name, static_cast<std::size_t>(sqlite3_column_bytes(statement, 1)))] =
        sqlite3_column_int(statement, 0);
  }
  sqlite3_finalize(statement);
  return locations;
}

void SqliteCatalogStore::AddLocation(int code, const std::string& name) {
  sqlite3_bind_int(insertLocation_, 1, code);
  BindText(insertLocation_, 2, name);
  Step(insertLocation_);
}

void SqliteCatalogStore::AddBook(const CatalogRecord& r, int locationCode) {
  const std::string* texts[] = {&r.bookId,    &r.title, &r.titleKana, &r.author,    &r.authorKana,
                                &r.publisher, &r.isbn,  &r.subject,   &r.callNumber};
  int index = 1;
  for (const std::string* text : texts) BindText(insertBook_, index++, *text);
  BindCount(insertBook_, 10, r.price);
  BindCount(insertBook_, 11, r.year);
  BindCount(insertBook_, 12, r.pages);
  BindText(insertBook_, 13, r.size);
  BindText(insertBook_, 14, r.contents);
  BindCount(insertBook_, 15, locationCode ? std::optional<int>(locationCode) : std::nullopt);
  BindText(insertBook_, 16, r.loanClass);
  BindText(insertBook_, 17, r.attachMark);
  BindCount(insertBook_, 18, r.attachCount);
  Step(insertBook_);
  if (r.loanUser.empty()) return;
  BindText(insertLoan_, 1, r.bookId);
  BindText(insertLoan_, 2, r.loanUser);
  if (r.dueDate.empty())
    sqlite3_bind_null(insertLoan_, 3);
  else
    BindText(insertLoan_, 3, r.dueDate);
  Step(insertLoan_);
}

void SqliteCatalogStore::Commit() { Execute("COMMIT"); }

void SqliteCatalogStore::Rollback() {
  if (!sqlite3_get_autocommit(db_)) Execute("ROLLBACK");
}

}  // namespace tools
