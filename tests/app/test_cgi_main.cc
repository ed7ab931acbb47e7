// The program of the end-to-end tests: the framework's entry routine with the test
// module, run as CGI or, started with a listening socket, as FastCGI. TEST_STARTUP_FAIL makes a
// start-up hook fail with that message.
#include <cstdlib>
#include <string>

#include "app/fastcgi_server.h"
#include "platform/exception.h"
#include "test_module.h"
#include "web/startup_hooks.h"

using namespace platform;
using namespace web;
using namespace app;

int main() {
  if (const char* message = std::getenv("TEST_STARTUP_FAIL")) {
    RegisterStartupHook([text = std::string(message)] { throw EConvertError(text); });
  }
  return RunWebProgram(ModuleClassOf<TTestMod>());
}
