#include "tests/support/cgi_response.h"

namespace test_support {

std::string Page(std::string_view content) {
  return "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(content.size()) + "\r\nContent:\r\n\r\n" + std::string(content);
}

std::string ServerError(std::string_view className, std::string_view statusText,
                        std::string_view message) {
  const std::string body =
      "<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error "
      "500</h1><hr>\r\nException: " +
      std::string(className) + "<br>\r\nMessage: " + std::string(message) + "<br></html>\r\n";
  return "Status: 500 " + std::string(statusText) +
         "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nContent:\r\n\r\n" + body;
}

}  // namespace test_support
