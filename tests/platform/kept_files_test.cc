// What a process makes of a file is kept while the file is unchanged: every change made
// between two uses must be seen by the second, a settled file that did not change must
// not be read again, and a file just written must be read at every use.
#include "platform/kept_files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/request_end.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::TKeptFiles;

// Reads a file's bytes through the kept values, counting the reads; a missing file
// raises, as the program's readers do.
struct CountingReader {
  int reads = 0;
  std::string operator()(std::string_view path) {
    ++reads;
    const std::string bytes = test_support::ReadWholeFile(std::string(path));
    if (bytes.empty()) throw std::runtime_error("no file");
    return bytes;
  }
};

// A process that serves one request keeps nothing, so this test runs before any test of
// this file marks the process as serving many.
TEST(KeptFiles, AProcessServingOneRequestReadsAtEveryUse) {
  ASSERT_FALSE(platform::ServingManyRequests());
  test_support::TempDir folder("kept_files_test_");
  const std::string path = folder / "a.txt";
  test_support::WriteBytes(path, "old");
  TKeptFiles<std::string> kept(4);
  CountingReader reader;
  for (int use = 1; use <= 3; ++use) {
    EXPECT_EQ(*kept.Value(path, std::ref(reader)), "old");
    EXPECT_EQ(reader.reads, use);
  }
}

TEST(KeptFiles, EveryChangeBetweenTwoUsesIsSeen) {
  platform::MarkServingManyRequests();
  test_support::TempDir folder("kept_files_test_");
  const std::string spare = folder / "spare";
  const struct Change {
    const char* what;
    std::function<void(const std::string& path)> make;
    const char* expected;  // null: the read raises
  } changes[] = {
      {"nothing", [](const std::string&) {}, "old"},
      {"rewritten in place, same size",
       [](const std::string& path) { test_support::WriteBytes(path, "new"); }, "new"},
      {"replaced by another file of the same size",
       [&](const std::string& path) {
         test_support::WriteBytes(spare, "rep");
         ASSERT_EQ(std::rename(spare.c_str(), path.c_str()), 0);
       },
       "rep"},
      {"touched, its bytes unchanged",
       [](const std::string& path) { ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0); },
       "old"},
      {"given other permissions", [](const std::string& path) { chmod(path.c_str(), 0640); },
       "old"},
      {"removed", [](const std::string& path) { ASSERT_EQ(unlink(path.c_str()), 0); }, nullptr},
  };
  for (bool settled : {false, true}) {
    auto pathOf = [&](const Change& change) {
      return folder / (std::string(settled ? "settled " : "fresh ") + change.what);
    };
    for (const Change& change : changes) test_support::WriteBytes(pathOf(change), "old");
    // Past the time within which a file changed before it was read is read anew.
    if (settled) std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    for (const Change& change : changes) {
      const std::string path = pathOf(change);
      const std::string label = std::string(change.what) + (settled ? ", settled" : ", fresh");
      TKeptFiles<std::string> kept(16);
      CountingReader reader;
      ASSERT_EQ(*kept.Value(path, std::ref(reader)), "old") << label;
      ASSERT_EQ(*kept.Value(path, std::ref(reader)), "old") << label;
      // A settled file is read once for both uses; a fresh one for each.
      EXPECT_EQ(reader.reads, settled ? 1 : 2) << label;
      change.make(path);
      const int readsBefore = reader.reads;
      if (change.expected) {
        EXPECT_EQ(*kept.Value(path, std::ref(reader)), change.expected) << label;
      } else {
        EXPECT_THROW(kept.Value(path, std::ref(reader)), std::runtime_error) << label;
      }
      const bool unchanged = std::string(change.what) == "nothing";
      EXPECT_EQ(reader.reads - readsBefore, settled && unchanged ? 0 : 1) << label;
    }
  }
}

TEST(KeptFiles, AFailedReadKeepsNothingAndTheMostFilesAreKept) {
  platform::MarkServingManyRequests();
  test_support::TempDir folder("kept_files_test_");
  std::vector<std::string> paths;
  for (const char* name : {"a", "b", "c"}) {
    paths.push_back(folder / name);
    test_support::WriteBytes(paths.back(), name);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  TKeptFiles<std::string> kept(2);
  CountingReader reader;
  // A reader that fails on a file that is there: the next use reads it again.
  auto failing = [](std::string_view) -> std::string { throw std::runtime_error("failed"); };
  EXPECT_THROW(kept.Value(paths[0], failing), std::runtime_error);
  EXPECT_EQ(*kept.Value(paths[0], std::ref(reader)), "a");
  EXPECT_EQ(*kept.Value(paths[1], std::ref(reader)), "b");
  EXPECT_EQ(*kept.Value(paths[0], std::ref(reader)), "a");
  EXPECT_EQ(reader.reads, 2);
  // A third file drops the two kept; it is kept itself.
  EXPECT_EQ(*kept.Value(paths[2], std::ref(reader)), "c");
  EXPECT_EQ(*kept.Value(paths[2], std::ref(reader)), "c");
  EXPECT_EQ(*kept.Value(paths[0], std::ref(reader)), "a");
  EXPECT_EQ(reader.reads, 4);
}

}  // namespace
