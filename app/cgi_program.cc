#include "app/cgi_program.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/caught_exception.h"
#include "app/cgi_application.h"
#include "platform/japanese_texts.h"
#include "platform/program_file.h"
#include "platform/raw_output.h"
#include "platform/text_format.h"

namespace app {

using platform::Exception;
using platform::FormatText;
using platform::ProgramFileName;
using platform::WriteAll;

namespace {

// C++ does not tell where an exception was thrown, so the report names the entry
// routine, written with as many hexadecimal digits as an address has.
std::string EntryAddress() {
  const auto address = reinterpret_cast<std::uintptr_t>(&RunCGIProgram);
  char text[2 * sizeof address + 1];
  std::snprintf(text, sizeof text, "%0*llX", static_cast<int>(2 * sizeof address),
                static_cast<unsigned long long>(address));
  return text;
}

}  // namespace

int RunCGIProgram(TWebModuleClass moduleClass, int inputFd, int outputFd) {
  try {
    TCGIApplication application(inputFd, outputFd);
    application.Initialize();
    application.RegisterModuleClass(std::move(moduleClass));
    application.Run();
  } catch (...) {
    ReportStartupError(DescribeException(std::current_exception()), outputFd);
  }
  return 0;
}

void ReportStartupError(const Exception& error, int outputFd) {
  // The format names the address with "%p", which the program's formatter leaves
  // alone; it is filled here as one more text argument.
  std::string pattern(platform::texts::kStartupError);
  pattern.replace(pattern.find("%p"), 2, "%s");
  const std::string& message = error.Message();
  const char* stop = !message.empty() && message.back() != '.' ? "." : "";
  WriteAll(outputFd, FormatText(pattern, {error.ClassName(), ProgramFileName(), EntryAddress(),
                                          message, stop}) +
                         "\n");
}

}  // namespace app
