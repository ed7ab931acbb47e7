// Several processes append to one new log at the same moment, from a folder that holds
// the writer program beside its copy of libkvconf.so, as a cgi-bin folder does.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/error_log.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using namespace config;

extern char** environ;

namespace {

using test_support::ReadWholeFile;
using test_support::WriteBytes;

constexpr int kWriters = 8;
constexpr int kEntriesPerWriter = 250;

pid_t StartWriter(const std::string& program, const std::string& folder, int writer) {
  std::string id = std::to_string(writer);
  std::string count = std::to_string(kEntriesPerWriter);
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(folder.c_str()),
                             id.data(), count.data(), nullptr};
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

TEST(ErrorLogConcurrencyTest, ProcessesStartingTogetherWriteTheBannerOnceAndEveryEntryWhole) {
  test_support::TempDir dir("config_test_");
  const std::string program = dir.Path() + "/error_log_writer";
  std::filesystem::copy_file(ERROR_LOG_WRITER_PATH, program);
  std::filesystem::copy_file(KVCONF_LIBRARY_PATH, dir.Path() + "/libkvconf.so");
  WriteBytes(dir.Path() + "/liraweb.conf", "DB_ALIAS=Writer\n");

  std::vector<pid_t> writers;
  for (int writer = 0; writer < kWriters; ++writer)
    writers.push_back(StartWriter(program, dir.Path(), writer));
  WriteBytes(dir.Path() + "/go", "");
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
  }

  std::string log = ReadWholeFile(dir.Path() + "/Error.txt");
  ASSERT_EQ(log.rfind(std::string(kErrorLogBanner), 0), 0u);
  std::istringstream entries(log.substr(kErrorLogBanner.size()));
  const std::regex record(
      R"re("\d{4}/\d\d/\d\d( \d{1,2}:\d\d:\d\d)?",Writer(\d),"entry (\d+) of writer (\d), whole")re");
  std::set<std::pair<int, int>> seen;
  std::string line;
  while (std::getline(entries, line)) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, record)) << line;
    EXPECT_EQ(match[2], match[4]);
    EXPECT_TRUE(seen.emplace(std::stoi(match[2]), std::stoi(match[3])).second) << line;
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kWriters * kEntriesPerWriter));
  EXPECT_EQ(log.back(), '\n');
}

}  // namespace
