// The request as a CGI host hands it over: variables in the process environment, the
// body on standard input, the response going to standard output.
#pragma once

#include "web/web_request.h"

namespace web {

class TCGIRequest : public TWebRequest {
 public:
  // Reads the method and the body at once. inputFd and outputFd are standard input and
  // output unless a test hands in others; neither is closed.
  explicit TCGIRequest(int inputFd = 0, int outputFd = 1);

  // The environment variable named for index; for a variable whose name begins with
  // "HTTP_" and that is unset or empty, the one named without that prefix. Values of
  // any length are read whole.
  std::string VariableText(int index) const override;

  // One read(2) of at most count bytes from inputFd (retried only when interrupted).
  std::string ReadBody(std::int32_t count) override;

  // Writes all bytes to outputFd, continuing after short writes.
  bool WriteText(std::string_view text) override;

 private:
  int InputFd_;
  int OutputFd_;
};

}  // namespace web
