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

// Binds a book's values as the parameters 1 to 18, in the column order of BOOKMAST.
void BindBook(sqlite3_stmt* statement, const CatalogRecord& r, int locationCode) {
  const std::string* texts[] = {&r.bookId,    &r.title, &r.titleKana, &r.author,    &r.authorKana,
                                &r.publisher, &r.isbn,  &r.subject,   &r.callNumber};
  int index = 1;
  for (const std::string* text : texts) BindText(statement, index++, *text);
  BindCount(statement, 10, r.price);
  BindCount(statement, 11, r.year);
  BindCount(statement, 12, r.pages);
  BindText(statement, 13, r.size);
  BindText(statement, 14, r.contents);
  BindCount(statement, 15, locationCode ? std::optional<int>(locationCode) : std::nullopt);
  BindText(statement, 16, r.loanClass);
  BindText(statement, 17, r.attachMark);
  BindCount(statement, 18, r.attachCount);
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
  sqlite3_finalize(updateBook_);
  sqlite3_finalize(deleteBook_);
  sqlite3_finalize(deleteLoan_);
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
  // An update in place keeps the row's rowid, so the search index's triggers log one
  // pending row for a changed book (a delete and insert would log two).
  updateBook_ = Prepare(
      "UPDATE BOOKMAST SET MS_SYOMEI = ?2, MS_SYOKANA = ?3, MS_CHOSYA = ?4, MS_CHOKANA = ?5, "
      "MS_SYUPAN = ?6, MS_ISBN = ?7, MS_KENMEI = ?8, MS_SEIKYU = ?9, MS_KINGAKU = ?10, "
      "MS_SYUNEN = ?11, MS_PAGE = ?12, MS_OOKISA = ?13, MS_NAIYO = ?14, MS_SYOZAI = ?15, "
      "MS_KKUBUN = ?16, MS_TMARK = ?17, MS_TFMSUU = ?18 WHERE MS_BOOKID = ?1");
  deleteBook_ = Prepare("DELETE FROM BOOKMAST WHERE MS_BOOKID = ?");
  deleteLoan_ = Prepare("DELETE FROM KASIDASI WHERE KA_BOOKID = ?");
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
  BindBook(insertBook_, r, locationCode);
  Step(insertBook_);
  AddLoan(r);
}

void SqliteCatalogStore::AddLoan(const CatalogRecord& r) {
  if (r.loanUser.empty()) return;
  BindText(insertLoan_, 1, r.bookId);
  BindText(insertLoan_, 2, r.loanUser);
  if (r.dueDate.empty())
    sqlite3_bind_null(insertLoan_, 3);
  else
    BindText(insertLoan_, 3, r.dueDate);
  Step(insertLoan_);
}

bool SqliteCatalogStore::ReplaceBook(const CatalogRecord& r, int locationCode, bool withLoan) {
  BindBook(updateBook_, r, locationCode);
  Step(updateBook_);
  const bool replaced = sqlite3_changes(db_) > 0;
  if (!replaced) {
    BindBook(insertBook_, r, locationCode);
    Step(insertBook_);
  }
  if (withLoan) {
    BindText(deleteLoan_, 1, r.bookId);
    Step(deleteLoan_);
    AddLoan(r);
  }
  return replaced;
}

bool SqliteCatalogStore::RemoveBook(const std::string& bookId) {
  BindText(deleteLoan_, 1, bookId);
  Step(deleteLoan_);
  BindText(deleteBook_, 1, bookId);
  Step(deleteBook_);
  return sqlite3_changes(db_) > 0;
}

void SqliteCatalogStore::Commit() { Execute("COMMIT"); }

void SqliteCatalogStore::Rollback() {
  if (!sqlite3_get_autocommit(db_)) Execute("ROLLBACK");
}

}  // namespace tools
