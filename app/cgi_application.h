// The application object of a CGI process: it serves the one request the web server
// handed to the process, and answers an exception that escapes the request with a
// fixed 500 response.
#pragma once

#include "app/web_application.h"
#include "platform/exception.h"

namespace app {

class TCGIApplication : public TWebApplication {
 public:
  // Reads the request from inputFd and writes the response to outputFd: standard
  // input and output unless a test hands in others. Neither is closed.
  explicit TCGIApplication(int inputFd = 0, int outputFd = 1)
      : InputFd_(inputFd), OutputFd_(outputFd) {}

  // Creates the request (reading its body) and the response, serves the request, and
  // frees the response and then the request. Any exception on the way -- also one that
  // is no Exception -- is answered with WriteServerError; nothing escapes. A closed
  // output does not end the process.
  void Run() override;

  // Writes the 500 response for error: a header block whose status line carries the
  // message with every control byte (CR and LF included) turned into a blank, then an
  // HTML body naming the class and the unchanged message: ServerErrorTemplate expanded
  // (ERR_NAME the class, ERR_MSG the message, as text) when it is set and can be read
  // and expanded, the fixed page otherwise. Raises nothing.
  void WriteServerError(const platform::Exception& error);

 private:
  int InputFd_;
  int OutputFd_;
};

}  // namespace app
