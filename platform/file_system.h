// The one place where the program's paths meet the operating system. Paths keep the
// backslash as folder separator everywhere else ("Conf\liraweb.conf"); here each
// backslash becomes "/". The path is walked as Shift_JIS, because the trail byte of a
// double-byte character may be 0x5C and must stay as it is.
#pragma once

#include <cstddef>
#include <fstream>
#include <string>
#include <string_view>

namespace platform {

// The path as the operating system wants it.
std::string NativePath(std::string_view path);

// True when a regular file of that name exists.
bool FileExists(std::string_view path);

// True when a directory of that name exists.
bool DirectoryExists(std::string_view path);

// Opens the file for binary reading. Raises EFOpenError "ファイル <path> は開けません".
std::ifstream OpenForReading(std::string_view path);

// A file read through its descriptor, which the object owns: no stream and so no
// locale is set up, for a request that reads nothing else through a stream.
class TFileReader {
 public:
  // Opens the file as OpenForReading does, raising the same EFOpenError.
  explicit TFileReader(std::string_view path);
  TFileReader(const TFileReader&) = delete;
  TFileReader& operator=(const TFileReader&) = delete;
  ~TFileReader();

  // Reads up to count bytes into bytes and returns how many were read: fewer only at
  // the end of the file, or where reading fails, which ends the file as it ends a
  // stream's read.
  std::size_t Read(char* bytes, std::size_t count);

 private:
  int Descriptor_;
};

}  // namespace platform
