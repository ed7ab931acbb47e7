// The moment two processes create the log together, made to happen on every run: this
// test binary puts its own link() and rename() in front of the C library's, and the
// first call that would put a file at the log's name finds that another process has
// just created the log and written a record into it. That record must stay.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "config/error_log.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using namespace config;

namespace {

using test_support::ReadWholeFile;
using test_support::WriteBytes;

const std::string kOtherRecord = "\"2024/01/02 3:04:05\",Other,\"created the log first\"\n";

std::string raceTarget;  // the log's name while the race is armed
int racesRun = 0;

// What the other process does just before this one puts its file in place.
void CreateTheLogFirst(const char* target) {
  if (raceTarget.empty() || raceTarget != target) return;
  raceTarget.clear();
  ++racesRun;
  WriteBytes(target, std::string(kErrorLogBanner) + kOtherRecord);
}

template <class Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

std::tm FixedClock() {
  std::tm time{};
  time.tm_year = 2024 - 1900;
  time.tm_mon = 0;
  time.tm_mday = 3;
  return time;
}

}  // namespace

extern "C" int link(const char* from, const char* to) {
  CreateTheLogFirst(to);
  static const auto next = Next<int (*)(const char*, const char*)>("link");
  return next(from, to);
}

extern "C" int rename(const char* from, const char* to) {
  CreateTheLogFirst(to);
  static const auto next = Next<int (*)(const char*, const char*)>("rename");
  return next(from, to);
}

TEST(ErrorLogRace, ALogAnotherProcessCreatedMeanwhileKeepsItsRecords) {
  test_support::TempDir dir("config_race_");
  const std::string path = dir / "Error.txt";
  racesRun = 0;
  raceTarget = path;
  TErrorLog log(path, &FixedClock);
  raceTarget.clear();
  ASSERT_EQ(racesRun, 1) << "the log was put in place by neither link() nor rename()";
  log.WriteEntry("Mine", "written second");
  EXPECT_EQ(ReadWholeFile(path), std::string(kErrorLogBanner) + kOtherRecord +
                                     "2024/01/03,Mine,\"written second\"\n");
  // No staging file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}
