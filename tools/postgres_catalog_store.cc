#include "tools/postgres_catalog_store.h"

#include <memory>

#include "tools/catalog_error.h"
#include "tools/catalog_schema.h"

namespace tools {

namespace {

using ResultPtr = std::unique_ptr<PGresult, decltype(&PQclear)>;

bool Succeeded(const PGresult* result) {
  ExecStatusType status = PQresultStatus(result);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

}  // namespace

PostgresCatalogStore::PostgresCatalogStore(std::string conninfo)
    : conn_(PQconnectdb(conninfo.c_str())) {
  if (PQstatus(conn_) != CONNECTION_OK || PQsetClientEncoding(conn_, "SJIS") != 0) {
    std::string message = PQerrorMessage(conn_);
    PQfinish(conn_);
    conn_ = nullptr;
    throw ECatalogError("PostgreSQL: cannot connect with client_encoding SJIS: " + message);
  }
}

PostgresCatalogStore::~PostgresCatalogStore() { PQfinish(conn_); }

std::string PostgresCatalogStore::Describe() const {
  return std::string("PostgreSQL database ") + PQdb(conn_);
}

void PostgresCatalogStore::Fail() const {
  std::string message = PQerrorMessage(conn_);
  while (!message.empty() && message.back() == '\n') message.pop_back();
  throw ECatalogError("PostgreSQL: " + message);
}

PGresult* PostgresCatalogStore::Run(const char* sql, const std::vector<const char*>& params) {
  PGresult* result = params.empty() ? PQexec(conn_, sql)
                                    : PQexecParams(conn_, sql, static_cast<int>(params.size()),
                                                   nullptr, params.data(), nullptr, nullptr, 0);
  if (!Succeeded(result)) {
    PQclear(result);
    Fail();
  }
  return result;
}

void PostgresCatalogStore::Prepare(const char* name, const char* sql, int parameterCount) {
  ResultPtr result(PQprepare(conn_, name, sql, parameterCount, nullptr), &PQclear);
  if (!Succeeded(result.get())) Fail();
}

int PostgresCatalogStore::RunPrepared(const char* name, const std::vector<const char*>& params) {
  ResultPtr result(PQexecPrepared(conn_, name, static_cast<int>(params.size()), params.data(),
                                  nullptr, nullptr, 0),
                   &PQclear);
  if (!Succeeded(result.get())) Fail();
  const char* changed = PQcmdTuples(result.get());
  return *changed == '\0' ? 0 : std::stoi(changed);
}

void PostgresCatalogStore::Begin() {
  PQclear(Run("BEGIN"));
  inTransaction_ = true;
  // The schema's notices ("relation already exists, skipping") are not news.
  PQclear(Run("SET LOCAL client_min_messages = warning"));
  PQclear(Run(kCatalogSchema));
  Prepare("book",
          "INSERT INTO BOOKMAST (MS_BOOKID, MS_SYOMEI, MS_SYOKANA, MS_CHOSYA, MS_CHOKANA, "
          "MS_SYUPAN, MS_ISBN, MS_KENMEI, MS_SEIKYU, MS_KINGAKU, MS_SYUNEN, MS_PAGE, MS_OOKISA, "
          "MS_NAIYO, MS_SYOZAI, MS_KKUBUN, MS_TMARK, MS_TFMSUU) "
          "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, "
          "$18)",
          18);
  Prepare("loan", "INSERT INTO KASIDASI (KA_BOOKID, KA_USERID, KA_KIGEN) VALUES ($1, $2, $3)", 3);
  Prepare("update",
          "UPDATE BOOKMAST SET MS_SYOMEI = $2, MS_SYOKANA = $3, MS_CHOSYA = $4, MS_CHOKANA = $5, "
          "MS_SYUPAN = $6, MS_ISBN = $7, MS_KENMEI = $8, MS_SEIKYU = $9, MS_KINGAKU = $10, "
          "MS_SYUNEN = $11, MS_PAGE = $12, MS_OOKISA = $13, MS_NAIYO = $14, MS_SYOZAI = $15, "
          "MS_KKUBUN = $16, MS_TMARK = $17, MS_TFMSUU = $18 WHERE MS_BOOKID = $1",
          18);
  Prepare("unloan", "DELETE FROM KASIDASI WHERE KA_BOOKID = $1", 1);
  Prepare("remove", "DELETE FROM BOOKMAST WHERE MS_BOOKID = $1", 1);
}

void PostgresCatalogStore::Clear() {
  PQclear(Run("DELETE FROM KASIDASI; DELETE FROM BOOKMAST; DELETE FROM SYOZAI;"));
}

std::map<std::string, int> PostgresCatalogStore::Locations() {
  ResultPtr result(Run("SELECT SY_CODE, SY_SYOZAI FROM SYOZAI"), &PQclear);
  std::map<std::string, int> locations;
  for (int row = 0; row < PQntuples(result.get()); ++row)
    locations[PQgetvalue(result.get(), row, 1)] = std::stoi(PQgetvalue(result.get(), row, 0));
  return locations;
}

void PostgresCatalogStore::AddLocation(int code, const std::string& name) {
  std::string codeText = std::to_string(code);
  PQclear(Run("INSERT INTO SYOZAI (SY_CODE, SY_SYOZAI) VALUES ($1, $2)",
              {codeText.c_str(), name.c_str()}));
}

int PostgresCatalogStore::RunBook(const char* name, const CatalogRecord& r, int locationCode) {
  std::string numbers[5];
  auto count = [&numbers](int slot, const std::optional<int>& value) -> const char* {
    if (!value) return nullptr;
    numbers[slot] = std::to_string(*value);
    return numbers[slot].c_str();
  };
  return RunPrepared(
      name,
      {r.bookId.c_str(), r.title.c_str(), r.titleKana.c_str(), r.author.c_str(),
       r.authorKana.c_str(), r.publisher.c_str(), r.isbn.c_str(), r.subject.c_str(),
       r.callNumber.c_str(), count(0, r.price), count(1, r.year), count(2, r.pages), r.size.c_str(),
       r.contents.c_str(), count(3, locationCode ? std::optional<int>(locationCode) : std::nullopt),
       r.loanClass.c_str(), r.attachMark.c_str(), count(4, r.attachCount)});
}

void PostgresCatalogStore::AddBook(const CatalogRecord& r, int locationCode) {
  RunBook("book", r, locationCode);
  AddLoan(r);
}

void PostgresCatalogStore::AddLoan(const CatalogRecord& r) {
  if (r.loanUser.empty()) return;
  RunPrepared("loan", {r.bookId.c_str(), r.loanUser.c_str(),
                       r.dueDate.empty() ? nullptr : r.dueDate.c_str()});
}

bool PostgresCatalogStore::ReplaceBook(const CatalogRecord& r, int locationCode, bool withLoan) {
  const bool replaced = RunBook("update", r, locationCode) > 0;
  if (!replaced) RunBook("book", r, locationCode);
  if (withLoan) {
    RunPrepared("unloan", {r.bookId.c_str()});
    AddLoan(r);
  }
  return replaced;
}

bool PostgresCatalogStore::RemoveBook(const std::string& bookId) {
  RunPrepared("unloan", {bookId.c_str()});
  return RunPrepared("remove", {bookId.c_str()}) > 0;
}

void PostgresCatalogStore::Commit() {
  PQclear(Run("COMMIT"));
  inTransaction_ = false;
}

void PostgresCatalogStore::Rollback() {
  if (!inTransaction_) return;
  inTransaction_ = false;
  PQclear(Run("ROLLBACK"));
}

}  // namespace tools
