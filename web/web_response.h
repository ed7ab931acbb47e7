// The response an action fills for the one request of the process: status, content
// type and the page text. The base class holds the values; a derived class says how
// the response is written out.
#pragma once

#include <cstdint>
#include <string>

#include "web/web_request.h"

namespace web {

class TWebResponse {
 public:
  // A "200 OK" response of type text/html with no content, answering request (which
  // is not owned and must outlive the response).
  explicit TWebResponse(TWebRequest& request) : HTTPRequest_(request) {}
  TWebResponse(const TWebResponse&) = delete;
  TWebResponse& operator=(const TWebResponse&) = delete;
  virtual ~TWebResponse();

  int StatusCode() const { return StatusCode_; }
  // Sets the code; a code different from the current one also replaces ReasonText by
  // that code's standard phrase (empty for a code without one).
  void SetStatusCode(int code);

  const std::string& ReasonText() const { return ReasonText_; }
  void SetReasonText(std::string text) { ReasonText_ = std::move(text); }

  const std::string& ContentType() const { return ContentType_; }
  void SetContentType(std::string type) { ContentType_ = std::move(type); }

  // The Content-Disposition header (a download's file name); none while empty, as
  // every page had before downloads existed.
  const std::string& ContentDisposition() const { return ContentDisposition_; }
  void SetContentDisposition(std::string disposition) {
    ContentDisposition_ = std::move(disposition);
  }

  const std::string& Content() const { return Content_; }
  // Stores the page text and sets ContentLength to its byte length.
  void SetContent(std::string content);

  std::int64_t ContentLength() const { return ContentLength_; }

  // True once the response has been written.
  bool Sent() const { return Sent_; }

  // Writes the response out and sets Sent.
  virtual void Send() = 0;

  TWebRequest& HTTPRequest() const { return HTTPRequest_; }

 protected:
  void MarkSent() { Sent_ = true; }

 private:
  TWebRequest& HTTPRequest_;
  int StatusCode_ = 200;
  std::string ReasonText_ = "OK";
  std::string ContentType_ = "text/html";
  std::string ContentDisposition_;
  std::string Content_;
  std::int64_t ContentLength_ = 0;
  bool Sent_ = false;
};

}  // namespace web
