// The one place where the program's paths meet the operating system. Paths keep the
// backslash as folder separator everywhere else ("Conf\liraweb.conf"); here each
// backslash becomes "/". The path is walked as Shift_JIS, because the trail byte of a
// double-byte character may be 0x5C and must stay as it is.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The path as the operating system wants it.
std::string NativePath(std::string_view path);

// True when a regular file of that name exists.
bool FileExists(std::string_view path);

// True when a directory of that name exists.
bool DirectoryExists(std::string_view path);

// What tells one state of a file from another: another file put in its place (device
// and inode), rewritten (size, modification time) or given other permissions (change
// time). A process that keeps what it read from a file reads it again when the state
// it sees differs from the one it read the file in.
struct TFileState {
  dev_t Device;
  ino_t Inode;
  off_t Size;
  timespec Modified;
  timespec Changed;

  bool operator==(const TFileState& other) const;

  // True when the file was last changed more than a few seconds before now. A file
  // changed more recently must not be kept by its state: the file system's clock may be
  // too coarse (a tick of some ms, on some systems two seconds) to give a second change
  // in the same tick a new time, and the size may stay the same.
  bool Settled() const;
};

// The state of the regular file at path; nothing when there is none (missing, a folder).
std::optional<TFileState> RegularFileState(std::string_view path);

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
