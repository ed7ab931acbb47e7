#include "db/sqlite/candidate_table.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "db/sqlite/group_counts.h"
#include "db/sqlite/ranked_order.h"
#include "db/sqlite/search_index_format.h"
#include "platform/invariant.h"

namespace db::searchindex {

namespace {

constexpr int kRowidColumn = 0;
constexpr int kSetColumn = 1;  // hidden: the number of the set, the function's argument

struct CandidateVtab {
  sqlite3_vtab base;
  CandidateRegistry* registry;
  sqlite3* db;
};

struct CandidateCursor {
  sqlite3_vtab_cursor base;
  CandidateSet* set = nullptr;  // the set read, which outlives the statement's run
  std::unique_ptr<RowSequence> rows;
  std::optional<std::int64_t> at;  // the rowid the cursor stands on; nullopt past the end
  sqlite3_int64 position = 0;      // how many rowids came before it
};

int Connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** vtab, char**) {
  const int rc =
      sqlite3_declare_vtab(db, "CREATE TABLE x(liraidx_rowid INTEGER, candidate_set HIDDEN)");
  if (rc != SQLITE_OK) return rc;
  auto* table = new CandidateVtab{};
  table->registry = static_cast<CandidateRegistry*>(aux);
  table->db = db;
  *vtab = &table->base;
  return SQLITE_OK;
}

int Disconnect(sqlite3_vtab* vtab) {
  delete reinterpret_cast<CandidateVtab*>(vtab);
  return SQLITE_OK;
}

// Usable only with the set's number given.
int BestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
  for (int i = 0; i < info->nConstraint; ++i) {
    const auto& constraint = info->aConstraint[i];
    if (constraint.iColumn == kSetColumn && constraint.op == SQLITE_INDEX_CONSTRAINT_EQ) {
      if (!constraint.usable) return SQLITE_CONSTRAINT;
      info->aConstraintUsage[i].argvIndex = 1;
      info->aConstraintUsage[i].omit = 1;
      info->idxNum = 1;
      info->estimatedCost = 10;
      info->estimatedRows = 100;
      if (info->nOrderBy == 1 && info->aOrderBy[0].iColumn == kRowidColumn &&
          !info->aOrderBy[0].desc) {
        info->orderByConsumed = 1;
      }
      return SQLITE_OK;
    }
  }
  return SQLITE_CONSTRAINT;
}

// A stored order that cannot be read fails the statement with its reason.
int Failed(CandidateVtab* table, const OrderUnreadable& e) {
  sqlite3_free(table->base.zErrMsg);
  table->base.zErrMsg = sqlite3_mprintf("%s: %s", kCandidateTable, e.what());
  return SQLITE_CORRUPT;
}

int Open(sqlite3_vtab*, sqlite3_vtab_cursor** cursor) {
  *cursor = &(new CandidateCursor{})->base;
  return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor* cursor) {
  delete reinterpret_cast<CandidateCursor*>(cursor);
  return SQLITE_OK;
}

int Filter(sqlite3_vtab_cursor* base, int, const char*, int argc, sqlite3_value** argv) {
  auto* cursor = reinterpret_cast<CandidateCursor*>(base);
  auto* table = reinterpret_cast<CandidateVtab*>(base->pVtab);
  CandidateSet* set = argc == 1 ? table->registry->Find(sqlite3_value_int(argv[0])) : nullptr;
  if (!set) {
    sqlite3_free(table->base.zErrMsg);
    table->base.zErrMsg = sqlite3_mprintf("%s: no such candidate set", kCandidateTable);
    return SQLITE_ERROR;
  }
  cursor->position = 0;
  cursor->set = set;
  set->TakeSkip();  // a skip asked for an earlier run is not this run's
  try {
    cursor->rows = set->Sequence();
    cursor->at = cursor->rows->Next();
  } catch (const OrderUnreadable& e) {
    return Failed(table, e);
  }
  return SQLITE_OK;
}

int Next(sqlite3_vtab_cursor* base) {
  auto* cursor = reinterpret_cast<CandidateCursor*>(base);
  LIRAWEB_ASSERT(cursor->at);  // SQLite moves only a cursor that is not at its end
  const std::int64_t skipped = cursor->set->TakeSkip();
  try {
    cursor->rows->Skip(skipped);
    cursor->at = cursor->rows->Next();
  } catch (const OrderUnreadable& e) {
    return Failed(reinterpret_cast<CandidateVtab*>(base->pVtab), e);
  }
  cursor->position += 1 + skipped;
  return SQLITE_OK;
}

int Eof(sqlite3_vtab_cursor* base) {
  auto* cursor = reinterpret_cast<CandidateCursor*>(base);
  return !cursor->rows || !cursor->at;
}

int Column(sqlite3_vtab_cursor* base, sqlite3_context* context, int column) {
  auto* cursor = reinterpret_cast<CandidateCursor*>(base);
  if (column == kRowidColumn) sqlite3_result_int64(context, *cursor->at);
  return SQLITE_OK;
}

int Rowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
  *rowid = reinterpret_cast<CandidateCursor*>(base)->position;
  return SQLITE_OK;
}

sqlite3_module MakeModule() {
  sqlite3_module module;
  std::memset(&module, 0, sizeof module);
  module.iVersion = 1;
  module.xConnect = Connect;  // eponymous only: no xCreate
  module.xBestIndex = BestIndex;
  module.xDisconnect = Disconnect;
  module.xOpen = Open;
  module.xClose = Close;
  module.xFilter = Filter;
  module.xNext = Next;
  module.xEof = Eof;
  module.xColumn = Column;
  module.xRowid = Rowid;
  return module;
}

const sqlite3_module kModule = MakeModule();

}  // namespace

unsigned DataVersion(sqlite3* db) {
  unsigned version = 0;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_DATA_VERSION, &version);
  return version;
}

CandidateSet::CandidateSet(sqlite3* db, Compute compute, CandidateBits first,
                           std::optional<IndexedSort> sort, std::shared_ptr<RankedOrder> ranked)
    : db_(db),
      compute_(std::move(compute)),
      candidates_(std::move(first)),
      dataVersion_(DataVersion(db)),
      sort_(std::move(sort)),
      ranked_(std::move(ranked)) {}

std::unique_ptr<RowSequence> CandidateSet::Sequence() {
  const RowBitmap& rows = Current().rows;
  return ranked_ ? ranked_->Sequence(db_, rows) : CandidateSequence(db_, rows, sort_);
}

const CandidateBits& CandidateSet::Current() {
  const unsigned now = DataVersion(db_);
  if (now != dataVersion_) {
    candidates_ = compute_();
    dataVersion_ = now;
  }
  return candidates_;
}

CandidateRegistry::CandidateRegistry() : lastJoinedRead_(std::make_shared<JoinedRead>()) {}

int CandidateRegistry::Add(std::shared_ptr<CandidateSet> set) {
  int number = 1;
  for (const auto& [taken, kept] : sets_) {
    if (taken != number) break;
    ++number;
  }
  sets_.emplace(number, std::move(set));
  return number;
}

void CandidateRegistry::Remove(int number) { sets_.erase(number); }

CandidateSet* CandidateRegistry::Find(int number) const {
  auto found = sets_.find(number);
  return found == sets_.end() ? nullptr : found->second.get();
}

std::optional<CandidateBits> CandidateRegistry::Recall(const CandidateQuestion& question) const {
  if (last_ && last_->first == question) return last_->second;
  return std::nullopt;
}

void CandidateRegistry::Remember(CandidateQuestion question, const CandidateBits& answer) {
  last_.emplace(std::move(question), answer);
}

int RegisterCandidateTable(sqlite3* db, CandidateRegistry** registry) {
  auto* owned = new CandidateRegistry;
  const int rc = sqlite3_create_module_v2(db, kCandidateTable, &kModule, owned, [](void* aux) {
    delete static_cast<CandidateRegistry*>(aux);
  });
  // On failure SQLite has already called the destructor.
  *registry = rc == SQLITE_OK ? owned : nullptr;
  return rc;
}

}  // namespace db::searchindex
