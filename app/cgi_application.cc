#include "app/cgi_application.h"

#include <signal.h>

#include <string>

#include "app/caught_exception.h"
#include "platform/raw_output.h"
#include "platform/sjis.h"
#include "web/cgi_request.h"
#include "web/cgi_response.h"
#include "web/html_text.h"
#include "web/page_producer.h"

namespace app {

using platform::Exception;
using platform::TStringList;
using platform::WriteAll;
using web::EscapeHtml;
using web::TCGIRequest;
using web::TCGIResponse;
using web::TPageProducer;
using web::TTag;

namespace {

// The most bytes of a message the status line carries: web servers refuse a header
// block of some tens of kilobytes, and the page body shows the message whole anyway.
constexpr std::size_t kStatusMessageBytes = 1024;

// A message in the status line must not end the header block early or add a header
// of its own, so control bytes become blanks there; a long one is cut before the
// first character that would not fit.
std::string StatusLineText(std::string_view message) {
  std::string text(message.substr(0, platform::WholeCharsPrefix(message, kStatusMessageBytes)));
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  return text;
}

// The fixed page, for an installation without its own template or when that cannot be
// used: the failure may be the very settings or files the template depends on.
std::string FixedServerErrorPage(const Exception& error) {
  return "<html><title>Internal Server Error 500</title>\r\n"
         "<h1>Internal Server Error 500</h1><hr>\r\n"
         "Exception: " +
         EscapeHtml(error.ClassName()) + "<br>\r\nMessage: " + EscapeHtml(error.Message()) +
         "<br></html>\r\n";
}

// The installation's page: its template with the class and the message written as text;
// every other tag becomes nothing, as the module that answers them may be what failed.
std::string TemplateServerErrorPage(const std::string& templatePath, const Exception& error) {
  TPageProducer producer;
  producer.OnHTMLTag = [&](TPageProducer&, TTag, const std::string& tagString, const TStringList&,
                           std::string& replaceText) {
    if (tagString == "ERR_NAME") replaceText = EscapeHtml(error.ClassName());
    if (tagString == "ERR_MSG") replaceText = EscapeHtml(error.Message());
  };
  producer.SetHTMLFile(templatePath);
  return producer.ProduceContent();
}

}  // namespace

void TCGIApplication::Run() {
  // A web server that stops reading must not kill the process before the module is
  // destroyed; failed writes are ignored like every other output failure.
  signal(SIGPIPE, SIG_IGN);
  try {
    TCGIRequest request(InputFd_, OutputFd_);
    TCGIResponse response(request);
    ServeRequest(request, response);
  } catch (...) {
    WriteServerError(DescribeException(std::current_exception()));
  }
}

void TCGIApplication::WriteServerError(const Exception& error) {
  // The message may quote request bytes (a field that is no number, say), so the page
  // shows it as character references; the status line has its control bytes blanked.
  std::string body;
  if (!ServerErrorTemplate.empty()) {
    try {
      body = TemplateServerErrorPage(ServerErrorTemplate, error);
    } catch (...) {
      // The template's own failure is not the one being answered: the fixed page
      // reports the original error, and the module is told of the template's.
      body.clear();
      if (ServerErrorTemplateFailed) {
        ServerErrorTemplateFailed(DescribeException(std::current_exception()));
      }
    }
  }
  if (body.empty()) body = FixedServerErrorPage(error);
  const std::string header =
      "Status: 500 " + StatusLineText(error.Message()) +
      "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\nContent:\r\n\r\n";
  WriteAll(OutputFd_, header);
  WriteAll(OutputFd_, body);
}

}  // namespace app
