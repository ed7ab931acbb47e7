#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/exception.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

using namespace platform;

namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  test_support::TempDir dir_{"fs_layer_"};
};

TEST_F(FileSystemTest, BackslashesBecomeSlashesButTrailBytesStay) {
  EXPECT_EQ(platform::NativePath("Conf\\liraweb.conf"), "Conf/liraweb.conf");
  // 表 is 0x95 0x5C: its trail byte is a backslash and must survive.
  EXPECT_EQ(platform::NativePath("a\\\x95\x5C\\b"), "a/\x95\x5C/b");
  EXPECT_EQ(platform::NativePath("end\x95"), "end\x95");
}

TEST_F(FileSystemTest, OpensTheFileWhoseNameHasABackslashTrailByte) {
  test_support::WriteBytes(dir_ / "sub/\x95\x5C.txt", "table");
  std::string path = dir_.Path() + "\\sub\\\x95\x5C.txt";
  EXPECT_TRUE(platform::FileExists(path));
  EXPECT_TRUE(platform::DirectoryExists(dir_.Path() + "\\sub"));
  EXPECT_FALSE(platform::FileExists(dir_.Path() + "\\sub"));
  std::ifstream in = platform::OpenForReading(path);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "table");
}

TEST_F(FileSystemTest, MissingFileRaisesOpenErrorNamingThePath) {
  try {
    platform::OpenForReading("no\\such.html");
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message(), "\x83t\x83@\x83""C\x83\x8b no\\such.html \x82\xcd\x8aJ\x82\xaf\x82\xdc\x82\xb9\x82\xf1");
  }
  EXPECT_THROW(platform::OpenForReading(dir_.Path()), EFOpenError);
}

}  // namespace
