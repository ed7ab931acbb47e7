#include "config/error_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "config/write_error.h"
#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/file_system.h"
#include "platform/japanese_texts.h"
#include "platform/raw_output.h"
#include "platform/sjis.h"
#include "platform/string_list.h"
#include "platform/text_format.h"

namespace config {

using platform::EFCreateError;
using platform::EFOpenError;
using platform::Exception;
using platform::FormatText;
using platform::TStringList;
using platform::WriteAll;

namespace {

// How long an append waits for another process's append to finish, in milliseconds.
constexpr std::uint64_t kLockWaitMs = 2000;

// Owns an open file descriptor; closing it also releases its lock.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Get() const { return fd_; }
  // Closes now and tells whether the bytes written reached the file.
  bool Close() {
    int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

// Takes the exclusive lock, polling while another process holds it, for kLockWaitMs.
bool LockExclusively(int fd) {
  const std::uint64_t deadline = platform::TickCount() + kLockWaitMs;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (platform::TickCount() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// "yyyy/MM/dd H:mm:ss"; the date alone at exactly midnight.
std::string FormatLogDate(const std::tm& time) {
  char text[64];
  int length = std::snprintf(text, sizeof text, "%04d/%02d/%02d", time.tm_year + 1900,
                             time.tm_mon + 1, time.tm_mday);
  if (time.tm_hour != 0 || time.tm_min != 0 || time.tm_sec != 0) {
    std::snprintf(text + length, sizeof text - length, " %d:%02d:%02d", time.tm_hour, time.tm_min,
                  time.tm_sec);
  }
  return text;
}

bool NeedsQuotes(std::string_view field) {
  for (std::size_t pos = 0; pos < field.size(); pos += platform::CharLength(field, pos)) {
    unsigned char c = static_cast<unsigned char>(field[pos]);
    if (platform::CharLength(field, pos) == 1 && (c <= 0x20 || c == '"' || c == ',')) return true;
  }
  return false;
}

// The field as written into a record: bare, or in double quotes with inner quotes doubled.
std::string QuoteField(std::string_view field) {
  if (!NeedsQuotes(field)) return std::string(field);
  std::string quoted = "\"";
  for (std::size_t pos = 0; pos < field.size();) {
    std::size_t length = platform::CharLength(field, pos);
    if (length == 1 && field[pos] == '"') quoted.push_back('"');
    quoted.append(field.substr(pos, length));
    pos += length;
  }
  quoted.push_back('"');
  return quoted;
}

// A record quotes at most this many bytes of a message, so that a huge request value
// cannot make a huge log.
constexpr std::size_t kLoggedMessageBytes = 4096;

// The message as a record quotes it: whole, or its first kLoggedMessageBytes (cut
// before a character that would not fit) followed by the mark of a cut message.
std::string LoggedMessage(std::string_view message) {
  if (message.size() <= kLoggedMessageBytes) return std::string(message);
  return std::string(message.substr(0, platform::WholeCharsPrefix(message, kLoggedMessageBytes))) +
         FormatText(platform::texts::kLogMessageCut, {std::to_string(message.size())});
}

// The comma-separated record of the items, ended by LF.
std::string MakeRecord(const TStringList& items) {
  std::string record;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) record.push_back(',');
    record += QuoteField(items[i]);
  }
  record.push_back('\n');
  return record;
}

// True when anything of that name exists, a dangling link included: such a name cannot
// be created either, and an existing file is never replaced.
bool NameExists(const std::string& nativePath) {
  struct stat info;
  return ::lstat(nativePath.c_str(), &info) == 0;
}

}  // namespace

std::tm CurrentLocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

TErrorLog::TErrorLog(std::string_view fileName, LocalTimeSource now) : Now(now) {
  SetFileName(fileName);
}

void TErrorLog::SetFileName(std::string_view fileName) {
  const std::string native = platform::NativePath(fileName);
  // A folder of that name is no log file, and no log file can be created in its place.
  if (platform::DirectoryExists(fileName))
    throw EFCreateError(FormatText(platform::texts::kCannotCreateFile, {fileName}));
  if (!NameExists(native)) {
    // The banner goes into a file of this process's own first, which is then linked to
    // the log's name: link() fails when the name exists, so exactly one process creates
    // the log, and no process can open it before its banner is in it.
    static std::atomic<unsigned> sequence{0};
    const std::string staging =
        native + ".new" + std::to_string(::getpid()) + "." + std::to_string(sequence.fetch_add(1));
    FileDescriptor file(::open(staging.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.IsOpen())
      throw EFCreateError(FormatText(platform::texts::kCannotCreateFile, {fileName}));
    bool staged = WriteAll(file.Get(), kErrorLogBanner) && file.Close();
    int linked = staged ? ::link(staging.c_str(), native.c_str()) : -1;
    int linkError = errno;
    ::unlink(staging.c_str());
    if (!staged || (linked != 0 && linkError != EEXIST))
      throw EFCreateError(FormatText(platform::texts::kCannotCreateFile, {fileName}));
  }
  FileName = fileName;
}

void TErrorLog::WriteEntry(std::string_view label, std::string_view message) {
  const std::string record =
      MakeRecord({FormatLogDate(Now()), std::string(label), LoggedMessage(message)});
  FileDescriptor file(
      ::open(platform::NativePath(FileName).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  if (!file.IsOpen() || !LockExclusively(file.Get()))
    throw EFOpenError(FormatText(platform::texts::kCannotOpenFile, {FileName}));
  // Under the lock no other record can follow this one, so a record the disk took only
  // part of is cut away again: the next record starts on a line of its own.
  struct stat before;
  const bool sized = ::fstat(file.Get(), &before) == 0;
  if (!WriteAll(file.Get(), record)) {
    if (sized) (void)::ftruncate(file.Get(), before.st_size);
    throw EWriteError(FormatText(platform::texts::kCannotWriteFile, {FileName}));
  }
  if (!file.Close()) throw EWriteError(FormatText(platform::texts::kCannotWriteFile, {FileName}));
}

void WriteErrorLogEntry(std::string_view label, std::string_view message) {
  try {
    TErrorLog log(kErrorLogFileName);
    log.WriteEntry(label, message);
  } catch (const Exception& failure) {
    // A failure to log must not fail the request that is being served, nor hide the
    // error being logged: the record goes to standard error (the web server's error
    // log) with the reason it is not in the file.
    const std::string line =
        failure.Message() + ": " +
        MakeRecord({FormatLogDate(CurrentLocalTime()), std::string(label), LoggedMessage(message)});
    (void)WriteAll(STDERR_FILENO, line);
  }
}

}  // namespace config
