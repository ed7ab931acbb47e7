#include "db/alias_config.h"

#include <gtest/gtest.h>

using namespace db;

namespace {

using db::DriverKind;
using db::MatchMode;

TEST(ParseAliases, ReadsSectionsOfBothDrivers) {
  auto aliases = db::ParseAliases(
      "# catalogue\r\n[Catalog]\r\nDRIVER=SQLITE\r\nPATH=data\\catalog.db\r\n\r\n"
      "[big]\ndriver = postgres\nCONNINFO=host=db1 dbname=lib options='-c x=1'\nmatch=exact\n",
      "conf/dbengine.conf");
  ASSERT_EQ(aliases.size(), 2u);
  EXPECT_EQ(aliases[0].Driver, DriverKind::kSqlite);
  EXPECT_EQ(aliases[0].Path, "conf/data/catalog.db");  // relative to the file's folder
  EXPECT_EQ(aliases[0].Match, MatchMode::kFolded);
  EXPECT_EQ(aliases[1].Driver, DriverKind::kPostgres);
  EXPECT_EQ(aliases[1].ConnInfo, "host=db1 dbname=lib options='-c x=1'");
  EXPECT_EQ(aliases[1].Match, MatchMode::kExact);
  EXPECT_EQ(db::FindAlias(aliases, "CATALOG"), &aliases[0]);
  EXPECT_EQ(db::FindAlias(aliases, "none"), nullptr);
}

// MATCH=FOLDED is the default of SQLite; PostgreSQL aliases written before the server
// could fold compare exactly unless they ask otherwise.
TEST(ParseAliases, PostgresFoldsOnlyWhenTheAliasAsks) {
  auto aliases = db::ParseAliases(
      "[old]\nDRIVER=POSTGRES\nCONNINFO=x\n[new]\nDRIVER=POSTGRES\nMATCH=Folded\nCONNINFO=x\n"
      "[lite]\nDRIVER=SQLITE\nPATH=a.db\n",
      "dbengine.conf");
  ASSERT_EQ(aliases.size(), 3u);
  EXPECT_EQ(aliases[0].Match, MatchMode::kExact);
  EXPECT_EQ(aliases[1].Match, MatchMode::kFolded);
  EXPECT_EQ(aliases[2].Match, MatchMode::kFolded);
}

TEST(ParseAliases, LooseIsAModeOfEitherDriver) {
  auto aliases = db::ParseAliases(
      "[pg]\nDRIVER=POSTGRES\nCONNINFO=x\nMATCH=loose\n[lite]\nDRIVER=SQLITE\nPATH=a.db\nMATCH=LOOSE\n",
      "dbengine.conf");
  ASSERT_EQ(aliases.size(), 2u);
  EXPECT_EQ(aliases[0].Match, MatchMode::kLoose);
  EXPECT_EQ(aliases[1].Match, MatchMode::kLoose);
  EXPECT_THROW(db::ParseAliases("[a]\nDRIVER=SQLITE\nPATH=a.db\nMATCH=LOOSER\n", "x"),
               db::DriverError);
}

TEST(ParseAliases, RejectsFaultyFilesWithTheLine) {
  const char* faulty[] = {
      "DRIVER=SQLITE\n",       // key outside a section
      "[a]\nDRIVER=ORACLE\n",  // unknown driver
      "[a]\nDRIVER=SQLITE\nPATH=x\nMATCH=fuzzy\n",
      "[a]\nDRIVER=SQLITE\nPAHT=x\n",  // misspelt key
      "[a]\nPATH=x\n",                 // no driver
      "[a]\nDRIVER=SQLITE\n",          // no path
      "[a]\nDRIVER=POSTGRES\n",        // no connection string
      "[a\nDRIVER=SQLITE\n",
  };
  for (const char* text : faulty) {
    try {
      db::ParseAliases(text, "dbengine.conf");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const db::DriverError& failure) {
      EXPECT_EQ(failure.Code, 0x2101) << text;
      ASSERT_EQ(failure.Entries.size(), 1u);
      EXPECT_NE(failure.Entries[0].Message.find("dbengine.conf"), std::string::npos);
    }
  }
}

TEST(ParseAliases, TimeLimitIsSecondsUpToADay) {
  struct Case {
    const char* line;
    int seconds;  // -1: refused
  } cases[] = {
      {"", 30},
      {"TIME_LIMIT=5\n", 5},
      {"time_limit = 0\n", 0},
      {"TIME_LIMIT=86400\n", 86400},
      {"TIME_LIMIT=0007\n", 7},
      {"TIME_LIMIT=86401\n", -1},
      {"TIME_LIMIT=-1\n", -1},
      {"TIME_LIMIT=\n", -1},
      {"TIME_LIMIT=1.5\n", -1},
      {"TIME_LIMIT=99999999999\n", -1},
  };
  for (const auto& c : cases) {
    const std::string text = std::string("[a]\nDRIVER=SQLITE\nPATH=x\n") + c.line;
    try {
      auto aliases = db::ParseAliases(text, "dbengine.conf");
      EXPECT_EQ(aliases.at(0).TimeLimitSeconds, c.seconds) << c.line;
    } catch (const db::DriverError& failure) {
      EXPECT_EQ(c.seconds, -1) << c.line;
      EXPECT_EQ(failure.Code, 0x2101) << c.line;
    }
  }
}

}  // namespace
