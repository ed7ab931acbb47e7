// The plain-text error log that every failure the program catches is written to. Each
// user creates a log object for "Error.txt", writes one entry and destroys it; the file
// is never held open between entries, and many processes append to it side by side.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace config {

// The log every part of the program writes to, in the current directory.
inline constexpr std::string_view kErrorLogFileName = "Error.txt";

// The first line of a log file the program creates.
inline constexpr std::string_view kErrorLogBanner = "    LIRA WEB ERROR LOG    \r\n";

// Where entries take their date from: the broken-down local time at the moment of writing.
using LocalTimeSource = std::tm (*)();

// The local time now, in the time zone (TZ) of the process.
std::tm CurrentLocalTime();

class TErrorLog {
 public:
  // Runs SetFileName(fileName); entries are dated by now. Raises EFCreateError.
  explicit TErrorLog(std::string_view fileName, LocalTimeSource now = &CurrentLocalTime);
  TErrorLog(const TErrorLog&) = delete;
  TErrorLog& operator=(const TErrorLog&) = delete;

  // Creates the file holding only the banner line when nothing of that name exists (an
  // existing file is left alone), then keeps the path. A file is only ever seen whole
  // with its banner, also when processes create it at the same moment. Raises
  // EFCreateError "ファイル <path> を作成できません", also when the name is a folder.
  void SetFileName(std::string_view fileName);

  // Appends the record: date, label and message separated by commas, each quoted when
  // needed, then LF; a message longer than 4096 bytes is quoted by its first 4096 bytes
  // and a mark of the cut. Waits up to two seconds while another process appends. Raises
  // EFOpenError "ファイル <path> は開けません" when the file cannot be opened or stays
  // locked, EWriteError "ファイル <path> に書き込めません" when the record is not written
  // whole; the file is then cut back to its length before the record.
  void WriteEntry(std::string_view label, std::string_view message);

 private:
  std::string FileName;
  LocalTimeSource Now;
};

// Writes one entry into "Error.txt" through a log object of its own. When the entry
// cannot be written there, it goes to standard error after the reason; nothing is raised.
void WriteErrorLogEntry(std::string_view label, std::string_view message);

}  // namespace config
