#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/exception.h"

namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fs_layer_XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(FileSystemTest, BackslashesBecomeSlashesButTrailBytesStay) {
  EXPECT_EQ(fs_layer::NativePath("Conf\\liraweb.conf"), "Conf/liraweb.conf");
  // 表 is 0x95 0x5C: its trail byte is a backslash and must survive.
  EXPECT_EQ(fs_layer::NativePath("a\\\x95\x5C\\b"), "a/\x95\x5C/b");
  EXPECT_EQ(fs_layer::NativePath("end\x95"), "end\x95");
}

TEST_F(FileSystemTest, OpensTheFileWhoseNameHasABackslashTrailByte) {
  std::filesystem::create_directory(dir_ + "/sub");
  std::ofstream(dir_ + "/sub/\x95\x5C.txt") << "table";
  std::string path = dir_ + "\\sub\\\x95\x5C.txt";
  EXPECT_TRUE(fs_layer::FileExists(path));
  EXPECT_TRUE(fs_layer::DirectoryExists(dir_ + "\\sub"));
  EXPECT_FALSE(fs_layer::FileExists(dir_ + "\\sub"));
  std::ifstream in = fs_layer::OpenForReading(path);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "table");
}

TEST_F(FileSystemTest, MissingFileRaisesOpenErrorNamingThePath) {
  try {
    fs_layer::OpenForReading("no\\such.html");
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message(), "\x83t\x83@\x83""C\x83\x8b no\\such.html \x82\xcd\x8aJ\x82\xaf\x82\xdc\x82\xb9\x82\xf1");
  }
  EXPECT_THROW(fs_layer::OpenForReading(dir_), EFOpenError);
}

}  // namespace
