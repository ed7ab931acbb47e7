// A small web module shaped like the program's own: a default action on "/", "/list"
// that reads the request fields and "/data", plus actions that throw, show the
// request variables, leave the content empty or send the response themselves. The
// end-to-end tests run it in a real CGI process.
#pragma once

#include "app/web_application.h"
#include "app/web_module.h"

class TTestMod : public app::TWebModule {
 public:
  // Raises EFOpenError when the environment has TEST_MODULE_FAIL, as a module whose
  // configuration cannot be read would.
  explicit TTestMod(app::TWebApplication& owner);

  // Writes "destroyed after <n> bytes" to standard error, n being the size of standard
  // output at that moment, so a test can see that the response was complete by then.
  ~TTestMod() override;
};
