// Counting a one-million-row result with each driver: the time of OpenQuery plus
// RowCount, and the heap the count needs at its worst, which must stay far below the
// size of the result (the rows are never held). The PostgreSQL case runs when
// DBENGINE_BENCH_PG holds the connection string of a server the bench may write to.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bench/heap_meter.h"
#include "db/database_error.h"
#include "db/query.h"

using namespace db;

namespace {

constexpr int kRows = 1000000;
// One row's title: 20 Shift_JIS characters, so the result is about 60 MB of text.
constexpr const char* kTitle =
    "'\x95\x5c\x8cv\x8eZ\x83\x5c\x83t\x83g\x82\xed\x82\xaa\x82\xcd\x82\xa2'";

// A SQLite file and, when asked for, a PostgreSQL table of kRows rows.
class BigResult {
 public:
  BigResult() {
    folder_ = (std::filesystem::temp_directory_path() / ("db_bench_" + std::to_string(getpid())))
                  .string();
    std::filesystem::create_directory(folder_);
    sqlite3* db = nullptr;
    sqlite3_open((folder_ + "/big.db").c_str(), &db);
    sqlite3_exec(db,
                 FillStatement("WITH RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM g "
                               "WHERE n < " +
                               std::to_string(kRows) + ") ")
                     .c_str(),
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::string conf = "[big]\nDRIVER=SQLITE\nPATH=big.db\n";
    if (const char* pg = std::getenv("DBENGINE_BENCH_PG")) {
      conf += std::string("[bigpg]\nDRIVER=POSTGRES\nCONNINFO=") + pg + "\n";
      Postgres_ = true;
    }
    std::ofstream(folder_ + "/dbengine.conf") << conf;
    setenv("DBENGINE_CONFIG", (folder_ + "/dbengine.conf").c_str(), 1);
    if (Postgres_) {
      Run("DROP TABLE IF EXISTS BIG");
      Run(FillStatement("WITH g(n) AS (SELECT generate_series(1, " + std::to_string(kRows) +
                        ")) "));
    }
  }
  ~BigResult() {
    if (Postgres_) Run("DROP TABLE BIG");
    std::filesystem::remove_all(folder_);
  }

  bool Postgres() const { return Postgres_; }

 private:
  static std::string FillStatement(const std::string& numbers) {
    return "CREATE TABLE BIG AS " + numbers + "SELECT n AS ID, " + kTitle +
           " || CAST(n AS VARCHAR(10)) AS TITLE FROM g";
  }

  // Runs a statement without result on the PostgreSQL alias.
  static void Run(const std::string& sql) {
    TQuery query("qBench");
    query.SetDatabaseName("bigpg");
    query.SetSqlLines({sql});
    try {
      query.OpenQuery();
    } catch (const ENoResultSet&) {
    }
  }

  std::string folder_;
  bool Postgres_ = false;
};

BigResult& Data() {
  static BigResult data;
  return data;
}

// Opens the whole table and counts it; the SQL text picks the way of counting.
void CountRows(benchmark::State& state, const char* alias, const char* sql) {
  if (std::string(alias) == "bigpg" && !Data().Postgres()) {
    state.SkipWithError("DBENGINE_BENCH_PG not set");
    return;
  }
  Data();
  std::size_t peak = 0;
  for (auto _ : state) {
    TQuery query("qBench");
    query.SetDatabaseName(alias);
    query.SetSqlLines({sql});
    heap_meter::ResetPeak();
    query.OpenQuery();
    if (query.RowCount() != kRows) state.SkipWithError("wrong count");
    peak = std::max(peak, heap_meter::PeakBytes());
  }
  state.counters["rows"] = kRows;
  state.counters["peak_heap_KiB"] = static_cast<double>(peak) / 1024;
  state.counters["maxrss_KiB"] = static_cast<double>(heap_meter::MaxResidentKiB());
}

// The database counts the statement as a subquery.
void BM_CountSqlite(benchmark::State& state) { CountRows(state, "big", "SELECT * FROM BIG"); }
// A trailing ";" makes the subquery fail, so the rows are stepped through instead.
void BM_CountSqliteByStepping(benchmark::State& state) {
  CountRows(state, "big", "SELECT * FROM BIG;");
}
void BM_CountPostgres(benchmark::State& state) { CountRows(state, "bigpg", "SELECT * FROM BIG"); }
void BM_CountPostgresByMoving(benchmark::State& state) {
  CountRows(state, "bigpg", "SELECT * FROM BIG;");
}

BENCHMARK(BM_CountSqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountSqliteByStepping)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountPostgres)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountPostgresByMoving)->Unit(benchmark::kMillisecond);

}  // namespace
