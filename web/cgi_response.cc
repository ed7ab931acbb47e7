#include "web/cgi_response.h"

#include <string>

namespace web {

void TCGIResponse::Send() {
  if (!HTTPRequest().ProtocolVersion().empty()) {
    const std::string status = !ReasonText().empty() && StatusCode() > 0
                                   ? std::to_string(StatusCode()) + " " + ReasonText()
                                   : std::string("200 OK");
    std::string header = "Status: " + status + "\r\n";
    if (!ContentType().empty()) header += "Content-Type: " + ContentType() + "\r\n";
    if (!ContentDisposition().empty())
      header += "Content-Disposition: " + ContentDisposition() + "\r\n";
    if (!Content().empty()) header += "Content-Length: " + std::to_string(ContentLength()) + "\r\n";
    header += "Content:\r\n\r\n";
    HTTPRequest().WriteText(header);
  }
  HTTPRequest().WriteText(Content());
  MarkSent();
}

}  // namespace web
