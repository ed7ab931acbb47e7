// catalog_loader --match and catalog_index --alias: the index is built for the mode an
// alias searches in, and check reports an index the alias's searches pass by.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tools_test_support.h"

namespace {

using toolstest::RunTool;
using toolstest::SourcePath;

constexpr const char* kPassedBy = "does not answer: its searches read every book";

class AliasIndexFit : public ::testing::Test {
 protected:
  // A catalogue file loaded with the loader's arguments, and one alias "lib" on it.
  void Install(const std::string& loaderArguments, const std::string& aliasMatch) {
    test_support::WriteBytes(folder_ / "dbengine.conf",
                             "[lib]\nDRIVER=SQLITE\nPATH=books.db\nMATCH=" + aliasMatch + "\n");
    std::filesystem::remove(folder_ / "books.db");
    const toolstest::ToolRun load =
        RunTool(std::string(CATALOG_LOADER) + " --no-progress " + loaderArguments + " --sqlite " +
                (folder_ / "books.db") + " " + SourcePath("site/catalogue/books.tsv"));
    ASSERT_EQ(load.exitCode, 0) << load.output;
  }
  // catalog_index run in the folder of dbengine.conf, as an operator runs it in cgi-bin/.
  toolstest::ToolRun Index(const std::string& arguments) {
    return RunTool("cd '" + folder_.Path() + "' && " + CATALOG_INDEX + " " + arguments);
  }

  test_support::TempDir folder_{"alias_index_fit_"};
};

// A folded index answers FOLDED and EXACT, a loose one LOOSE alone.
TEST_F(AliasIndexFit, CheckReportsTheIndexAnAliasPassesBy) {
  struct Case {
    const char* loaderArguments;
    const char* aliasMatch;
    bool passedBy;
  } cases[] = {
      {"", "FOLDED", false},
      {"", "EXACT", false},
      {"", "LOOSE", true},
      {"--match folded", "LOOSE", true},
      {"--match loose", "LOOSE", false},
      {"--match loose", "FOLDED", true},
      {"--match loose", "EXACT", true},
  };
  for (const Case& c : cases) {
    Install(c.loaderArguments, c.aliasMatch);
    for (const char* arguments : {"check books.db", "check --alias lib", "check --alias LIB"}) {
      const toolstest::ToolRun run = Index(arguments);
      const std::string what = std::string(c.loaderArguments) + " / MATCH=" + c.aliasMatch + " / " +
                               arguments + "\n" + run.output;
      EXPECT_EQ(run.exitCode, c.passedBy ? 1 : 0) << what;
      EXPECT_EQ(run.output.find(kPassedBy) != std::string::npos, c.passedBy) << what;
      EXPECT_NE(run.output.find(std::string("alias lib ")), std::string::npos) << what;
    }
  }
}

// A load that replaces every book builds the index anew in the mode it had.
TEST_F(AliasIndexFit, ReplacingLoadKeepsTheModeOfTheIndex) {
  for (const char* match : {"loose", "folded"}) {
    Install(std::string("--match ") + match, match == std::string("loose") ? "LOOSE" : "FOLDED");
    const toolstest::ToolRun load =
        RunTool(std::string(CATALOG_LOADER) + " --no-progress --replace --sqlite " +
                (folder_ / "books.db") + " " + SourcePath("site/catalogue/books.tsv"));
    ASSERT_EQ(load.exitCode, 0) << load.output;
    const toolstest::ToolRun check = Index("check --alias lib");
    EXPECT_EQ(check.exitCode, 0) << match << "\n" << check.output;
  }
}

TEST_F(AliasIndexFit, BuildForAnAliasTakesItsCatalogueAndMatch) {
  Install("", "LOOSE");
  ASSERT_EQ(Index("check --alias lib").exitCode, 1);
  const toolstest::ToolRun build = Index("build --no-progress --alias lib");
  EXPECT_EQ(build.exitCode, 0) << build.output;
  const toolstest::ToolRun check = Index("check --alias lib");
  EXPECT_EQ(check.exitCode, 0) << check.output;
  // An alias the file does not define is a usage error, not a passing check.
  EXPECT_EQ(Index("check --alias nowhere books.db").exitCode, 2);
}

}  // namespace
