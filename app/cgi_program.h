// The entry routine of the CGI program: main() hands it the module class and returns
// what it returns.
#pragma once

#include "app/web_application.h"
#include "platform/exception.h"

namespace app {

// Initialises a TCGIApplication, registers moduleClass and runs it; the application
// object, and with it the module, is destroyed after the response has been written.
// An exception that escapes (a failing start-up hook, say) is written to outputFd by
// ReportStartupError. Always returns 0, the process exit code.
int RunCGIProgram(TWebModuleClass moduleClass, int inputFd = 0, int outputFd = 1);

// Writes "<class>がモジュール <program> の <address> で発生しました。\n<message>." and a
// line feed to outputFd: the program's file name without its folder, the address of
// the entry routine in hexadecimal, and a "." only when the message is not empty and
// does not end in one.
void ReportStartupError(const platform::Exception& error, int outputFd = 1);

}  // namespace app
