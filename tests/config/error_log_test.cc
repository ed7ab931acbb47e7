#include "config/error_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include "config/write_error.h"
#include "platform/exception.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using namespace platform;
using namespace config;

namespace {

using test_support::ReadWholeFile;
using test_support::WriteBytes;

std::tm fixedTime;

std::tm FixedClock() { return fixedTime; }

void SetFixedTime(int year, int month, int day, int hour, int minute, int second) {
  fixedTime = std::tm{};
  fixedTime.tm_year = year - 1900;
  fixedTime.tm_mon = month - 1;
  fixedTime.tm_mday = day;
  fixedTime.tm_hour = hour;
  fixedTime.tm_min = minute;
  fixedTime.tm_sec = second;
}

const std::string kBanner(kErrorLogBanner);

// "ファイル " that starts each file error message.
const std::string kFile = "\x83\x74\x83\x40\x83\x43\x83\x8b ";

// Runs action and expects it to raise E with that class name and message.
template <typename E, typename Action>
void ExpectError(Action action, const std::string& className, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no exception";
  } catch (const E& e) {
    EXPECT_EQ(e.ClassName(), className);
    EXPECT_EQ(e.Message(), message);
  }
}

class ErrorLogTest : public ::testing::Test {
 protected:
  void SetUp() override { SetFixedTime(2005, 3, 7, 9, 5, 2); }

  // The program's form of a path in the test folder: backslash as folder separator.
  std::string LogPath(const std::string& name) const { return dir_.Path() + "\\" + name; }
  std::string NativeLogPath(const std::string& name) const { return dir_ / name; }

  test_support::TempDir dir_{"config_test_"};
};

TEST_F(ErrorLogTest, FirstEntryIntoANewFolderFollowsTheBanner) {
  TErrorLog log(LogPath("Error.txt"), &FixedClock);
  EXPECT_EQ(ReadWholeFile(NativeLogPath("Error.txt")), "    LIRA WEB ERROR LOG    \r\n");
  log.WriteEntry("ListView", "failed");
  EXPECT_EQ(ReadWholeFile(NativeLogPath("Error.txt")),
            kBanner + "\"2005/03/07 9:05:02\",ListView,failed\n");
  // Nothing but the log is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
}

TEST_F(ErrorLogTest, FieldsAreQuotedWhenTheyHoldBlanksCommasControlsOrQuotes) {
  struct Case {
    std::string label, message, record;
  } cases[] = {
      {"ReplaceTag", "a b", "ReplaceTag,\"a b\""},
      {"ReplaceTag", "a,b", "ReplaceTag,\"a,b\""},
      {"ReplaceTag", "one\r\ntwo", "ReplaceTag,\"one\r\ntwo\""},
      {"ReplaceTag", "\ttab", "ReplaceTag,\"\ttab\""},
      {"ReplaceTag", "say \"hi\"", "ReplaceTag,\"say \"\"hi\"\"\""},
      {"ReplaceTag", "quote\"only", "ReplaceTag,\"quote\"\"only\""},
      {"ReplaceTag", "", "ReplaceTag,"},
      {"Label With Blank", "x", "\"Label With Blank\",x"},
      // 検索 and 表示 (the trail byte of 表 is 0x5C) and the full-width blank 0x81 0x40.
      {"\x8c\x9f\x8d\xf5", "\x95\x5C\x8e\xa6\x81\x40", "\x8c\x9f\x8d\xf5,\x95\x5C\x8e\xa6\x81\x40"},
      // A lead byte without a trail byte hides nothing: the quote after it is doubled.
      {"PageNumber", "\x81\"", "PageNumber,\"\x81\"\"\""},
      {"PageNumber", "end\x81", "PageNumber,end\x81"},
  };
  int index = 0;
  for (const Case& c : cases) {
    std::string name = "Error" + std::to_string(index++) + ".txt";
    TErrorLog(LogPath(name), &FixedClock).WriteEntry(c.label, c.message);
    EXPECT_EQ(ReadWholeFile(NativeLogPath(name)),
              kBanner + "\"2005/03/07 9:05:02\"," + c.record + "\n")
        << c.message;
  }
}

TEST_F(ErrorLogTest, DateIsShortDateAndLongTimeOrTheDateAloneAtMidnight) {
  struct Case {
    int hour, minute, second;
    std::string field;
  } cases[] = {
      {0, 0, 0, "2005/03/07"},
      {0, 0, 1, "\"2005/03/07 0:00:01\""},
      {23, 59, 59, "\"2005/03/07 23:59:59\""},
  };
  for (const Case& c : cases) {
    SetFixedTime(2005, 3, 7, c.hour, c.minute, c.second);
    std::filesystem::remove(NativeLogPath("Error.txt"));
    TErrorLog(LogPath("Error.txt"), &FixedClock).WriteEntry("Initialize", "m");
    EXPECT_EQ(ReadWholeFile(NativeLogPath("Error.txt")), kBanner + c.field + ",Initialize,m\n");
  }
}

TEST_F(ErrorLogTest, ExistingFileIsLeftAloneAndEntriesAppend) {
  WriteBytes(NativeLogPath("Error.txt"), "kept\n");
  TErrorLog log(LogPath("Error.txt"), &FixedClock);
  EXPECT_EQ(ReadWholeFile(NativeLogPath("Error.txt")), "kept\n");
  log.WriteEntry("A", "1");
  TErrorLog(LogPath("Error.txt"), &FixedClock).WriteEntry("B", "2");
  EXPECT_EQ(ReadWholeFile(NativeLogPath("Error.txt")),
            "kept\n\"2005/03/07 9:05:02\",A,1\n\"2005/03/07 9:05:02\",B,2\n");
}

TEST_F(ErrorLogTest, LogThatCannotBeCreatedRaisesCreateError) {
  std::string path = LogPath("missing\\Error.txt");
  // "ファイル <path> を作成できません"
  ExpectError<EFCreateError>(
      [&] { TErrorLog log(path); }, "EFCreateError",
      kFile + path + " \x82\xf0\x8d\xec\x90\xac\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1");
}

TEST_F(ErrorLogTest, FolderOfTheLogsNameIsNoLogAndRaisesCreateError) {
  std::filesystem::create_directory(NativeLogPath("Error.txt"));
  ExpectError<EFCreateError>(
      [&] { TErrorLog log(LogPath("Error.txt")); }, "EFCreateError",
      kFile + LogPath("Error.txt") +
          " \x82\xf0\x8d\xec\x90\xac\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1");
  EXPECT_TRUE(std::filesystem::is_empty(NativeLogPath("Error.txt")));
}

TEST_F(ErrorLogTest, LogRemovedSinceConstructionRaisesOpenError) {
  TErrorLog log(LogPath("Error.txt"), &FixedClock);
  std::filesystem::remove(NativeLogPath("Error.txt"));
  // "ファイル <path> は開けません"
  ExpectError<EFOpenError>(
      [&] { log.WriteEntry("A", "1"); }, "EFOpenError",
      kFile + LogPath("Error.txt") + " \x82\xcd\x8aJ\x82\xaf\x82\xdc\x82\xb9\x82\xf1");
  EXPECT_FALSE(std::filesystem::exists(NativeLogPath("Error.txt")));
}

TEST_F(ErrorLogTest, RecordThatCannotBeWrittenRaisesWriteError) {
  std::filesystem::create_symlink("/dev/full", NativeLogPath("Error.txt"));
  TErrorLog log(LogPath("Error.txt"), &FixedClock);
  // "ファイル <path> に書き込めません"
  ExpectError<EWriteError>([&] { log.WriteEntry("A", "1"); }, "EWriteError",
                           kFile + LogPath("Error.txt") +
                               " \x82\xc9\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1");
}

// Holds the exclusive lock on the log as another process's append would.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY)) {
    EXPECT_EQ(::flock(fd_, LOCK_EX), 0);
  }
  ~HeldLock() { Release(); }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

TEST_F(ErrorLogTest, AppendWaitsForAnotherWriter) {
  TErrorLog log(LogPath("Error.txt"), &FixedClock);
  HeldLock lock(NativeLogPath("Error.txt"));
  std::thread releaser([&lock] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    lock.Release();
  });
  EXPECT_NO_THROW(log.WriteEntry("A", "1"));
  releaser.join();
  EXPECT_EQ(ReadWholeFile(NativeLogPath("Error.txt")), kBanner + "\"2005/03/07 9:05:02\",A,1\n");
}

TEST_F(ErrorLogTest, AppendGivesUpWithOpenErrorWhenTheLockIsNeverReleased) {
  TErrorLog log(LogPath("Error.txt"), &FixedClock);
  HeldLock lock(NativeLogPath("Error.txt"));
  EXPECT_THROW(log.WriteEntry("A", "1"), EFOpenError);
  EXPECT_EQ(ReadWholeFile(NativeLogPath("Error.txt")), kBanner);
}

TEST_F(ErrorLogTest, PathWithABackslashTrailByteWritesTheRightFile) {
  // 表 is 0x95 0x5C. Cut at the 0x5C, the path would name the folder "\x95" instead.
  std::filesystem::create_directory(NativeLogPath("\x95\x5C"));
  std::filesystem::create_directory(NativeLogPath("\x95"));
  TErrorLog(LogPath("\x95\x5C\\Error.txt"), &FixedClock).WriteEntry("A", "1");
  EXPECT_EQ(ReadWholeFile(NativeLogPath("\x95\x5C/Error.txt")),
            kBanner + "\"2005/03/07 9:05:02\",A,1\n");
  EXPECT_TRUE(std::filesystem::is_empty(NativeLogPath("\x95")));
}

// A disk that takes only part of a record (here a file size limit): the record is cut
// away again, so the next one starts on a line of its own.
TEST_F(ErrorLogTest, RecordTheDiskTakesOnlyPartOfLeavesNoTrace) {
  TErrorLog log(LogPath("Error.txt"), &FixedClock);
  log.WriteEntry("A", "1");
  const std::string before = ReadWholeFile(NativeLogPath("Error.txt"));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size() + 10, before.size() + 10};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
    try {
      log.WriteEntry("B", std::string(100, 'x'));
    } catch (const EWriteError&) {
      _exit(0);
    } catch (...) {
      _exit(2);
    }
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no error raised, 2: another error";
  EXPECT_EQ(ReadWholeFile(NativeLogPath("Error.txt")), before);
  log.WriteEntry("C", "3");
  EXPECT_EQ(ReadWholeFile(NativeLogPath("Error.txt")), before + "\"2005/03/07 9:05:02\",C,3\n");
}

}  // namespace
