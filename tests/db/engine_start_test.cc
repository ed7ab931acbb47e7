// The engine starts at the first database use of a process and loads the PostgreSQL
// plug-in (and libpq) only for a PostgreSQL alias. Each case runs in a child process
// of its own, so that it starts from an engine that never ran.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "db/database_error.h"
#include "db/engine.h"
#include "db/query.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using namespace db;

namespace {

bool LibpqLoaded() {
  return test_support::ReadWholeFile("/proc/self/maps").find("libpq.so") != std::string::npos;
}

// True when the process holds a file descriptor on the file.
bool FileOpen(const std::string& path) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) == path) return true;
  }
  return false;
}

class EngineStart : public ::testing::Test {
 protected:
  // A case that names its own dbengine.conf sets DBENGINE_CONFIG; every case starts
  // without one and leaves the variable as it found it, in whatever order they run.
  void SetUp() override {
    if (const char* outer = std::getenv("DBENGINE_CONFIG")) outerConfig_ = outer;
    unsetenv("DBENGINE_CONFIG");
    sqlite3* db = nullptr;
    sqlite3_open(catalog_.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE T (A INTEGER); INSERT INTO T VALUES (1)", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
  }

  void TearDown() override {
    if (outerConfig_) {
      setenv("DBENGINE_CONFIG", outerConfig_->c_str(), 1);
    } else {
      unsetenv("DBENGINE_CONFIG");
    }
  }

  void UseConfig(const std::string& text) {
    test_support::WriteBytes(folder_ / "dbengine.conf", text);
    setenv("DBENGINE_CONFIG", (folder_ / "dbengine.conf").c_str(), 1);
  }

  // Runs the check in a child process; it passes when the check returns true.
  template <class Check>
  void InChild(Check check) {
    EXPECT_EXIT(std::exit(check() ? 0 : 1), ::testing::ExitedWithCode(0), "");
  }

  test_support::TempDir folder_{"dbstart."};
  const std::string catalog_ = folder_ / "catalog.db";
  std::optional<std::string> outerConfig_;
};

TEST_F(EngineStart, AQueryNeverOpenedStartsNothing) {
  InChild([&] {
    TQuery query("qMaster");
    query.SetDatabaseName(folder_.Path());
    query.SetSqlLines({"SELECT A FROM T WHERE A = :A"});
    query.SetParamText("A", "1");
    query.CloseQuery();
    return !db::EngineStarted() && !FileOpen(catalog_) && !LibpqLoaded();
  });
}

TEST_F(EngineStart, ASqliteQueryDoesNotLoadLibpq) {
  InChild([&] {
    TQuery query("qMaster");
    query.SetDatabaseName(folder_.Path());
    query.SetSqlLines({"SELECT A FROM T"});
    query.OpenQuery();
    return db::EngineStarted() && FileOpen(catalog_) && query.FieldText("A") == "1" &&
           !db::PostgresPluginLoaded() && !LibpqLoaded();
  });
}

TEST_F(EngineStart, APostgresAliasLoadsThePlugin) {
  UseConfig("[pg]\nDRIVER=POSTGRES\nCONNINFO=host=" + folder_.Path() +
            " port=1 connect_timeout=1\n");
  InChild([&] {
    TQuery query("qMaster");
    query.SetDatabaseName("pg");
    query.SetSqlLines({"SELECT 1"});
    try {
      query.OpenQuery();
    } catch (const EDBEngineError& error) {
      // データベースを開けません, then libpq's own words.
      const bool named = error.Message().rfind(
                             "\x83"
                             "f\x81[\x83^\x83x\x81[\x83X\x82\xf0",
                             0) == 0;
      return named && db::PostgresPluginLoaded() && LibpqLoaded();
    }
    return false;
  });
}

TEST_F(EngineStart, AFaultyConfigurationIsAStartUpFailure) {
  UseConfig("[broken]\nDRIVER=SQLITE\n");
  InChild([&] {
    TQuery query("qMaster");
    query.SetDatabaseName("broken");
    query.SetSqlLines({"SELECT 1"});
    try {
      query.OpenQuery();
    } catch (const EDBEngineError& error) {
      std::cerr << error.Message() << "\n";
      return error.Message() ==
                 "dbengine \x82\xcc\x8f\x89\x8a\xfa\x89\xbb\x92\x86\x82\xc9\x83G\x83\x89\x81[\x82"
                 "\xaa\x94\xad\x90\xb6\x82\xb5\x82\xdc\x82\xb5\x82\xbd (\x83G\x83\x89\x81[ "
                 "$2101)" &&
             !db::EngineStarted();
    }
    return false;
  });
}

}  // namespace
