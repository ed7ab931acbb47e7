// The response written to standard output the way a CGI host reads it: a header block
// (only when the server named a protocol) and then the content.
#pragma once

#include "web/web_response.h"

namespace web {

class TCGIResponse : public TWebResponse {
 public:
  explicit TCGIResponse(TWebRequest& request) : TWebResponse(request) {}

  // When SERVER_PROTOCOL is not empty, writes the header block with one WriteText:
  // "Status: <code> <reason>", "Content-Type: <type>" when set, "Content-Length: <n>"
  // when there is content, then "Content:" and an empty line, every line ending in
  // CR LF. Then writes the content with one WriteText and sets Sent. Write failures
  // are not reported.
  void Send() override;
};

}  // namespace web
