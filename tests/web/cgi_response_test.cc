#include "web/cgi_response.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace web;

namespace {

// A request from a table of variables that records what is written.
class RecordingRequest : public TWebRequest {
 public:
  explicit RecordingRequest(std::map<int, std::string> variables)
      : Variables_(std::move(variables)) {}
  std::string VariableText(int index) const override {
    auto it = Variables_.find(index);
    return it == Variables_.end() ? std::string() : it->second;
  }
  std::string ReadBody(std::int32_t) override { return {}; }
  bool WriteText(std::string_view text) override {
    Writes.emplace_back(text);
    return true;
  }
  std::vector<std::string> Writes;

 private:
  std::map<int, std::string> Variables_;
};

TEST(CGIResponse, StartsAsAnEmptyHtmlPage) {
  RecordingRequest request({});
  TCGIResponse response(request);
  EXPECT_EQ(response.StatusCode(), 200);
  EXPECT_EQ(response.ReasonText(), "OK");
  EXPECT_EQ(response.ContentType(), "text/html");
  EXPECT_EQ(response.Content(), "");
  EXPECT_EQ(response.ContentLength(), 0);
  EXPECT_FALSE(response.Sent());
  EXPECT_EQ(&response.HTTPRequest(), &request);
}

TEST(CGIResponse, ContentSetsTheByteLength) {
  RecordingRequest request({});
  TCGIResponse response(request);
  response.SetContent("\x93\xFA\x96\x7B");
  EXPECT_EQ(response.ContentLength(), 4);
  response.SetContent("");
  EXPECT_EQ(response.ContentLength(), 0);
}

TEST(CGIResponse, SendWritesHeaderBlockAndContentWithOneWriteEach) {
  struct Case {
    std::string protocol;
    std::string content;
    std::vector<std::string> writes;
  } cases[] = {
      {"HTTP/1.1",
       "<p>\x93\xFA</p>",
       {"Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9\r\nContent:\r\n\r\n",
        "<p>\x93\xFA</p>"}},
      {"HTTP/1.0", "", {"Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n", ""}},
      {"", "page", {"page"}},
      {"", "", {""}},
  };
  for (const auto& c : cases) {
    RecordingRequest request({{rvProtocolVersion, c.protocol}});
    TCGIResponse response(request);
    response.SetContent(c.content);
    response.Send();
    EXPECT_EQ(request.Writes, c.writes) << c.protocol << " " << c.content;
    EXPECT_TRUE(response.Sent());
  }
}

TEST(CGIResponse, StatusLineFollowsCodeAndReason) {
  struct Case {
    int code;
    std::string reason;  // "-" keeps the phrase the code brings
    std::string expected;
  } cases[] = {
      {404, "-", "Status: 404 Not Found\r\n"},
      {404, "Gone Away", "Status: 404 Gone Away\r\n"},
      {299, "-", "Status: 200 OK\r\n"},  // no phrase of its own
      {0, "Nothing", "Status: 200 OK\r\n"},
  };
  for (const auto& c : cases) {
    RecordingRequest request({{rvProtocolVersion, "HTTP/1.1"}});
    TCGIResponse response(request);
    response.SetStatusCode(c.code);
    if (c.reason != "-") response.SetReasonText(c.reason);
    response.SetContentType("");
    response.Send();
    EXPECT_EQ(request.Writes.at(0), c.expected + "Content:\r\n\r\n") << c.code;
  }
}

}  // namespace
