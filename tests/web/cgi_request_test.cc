#include "web/cgi_request.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include "platform/exception.h"

using namespace platform;
using namespace web;

namespace {

// Every name the request may look up, so that each test starts from an environment
// holding only what it sets itself.
constexpr const char* kNames[] = {
    "REQUEST_METHOD",  "SERVER_PROTOCOL",   "URL",          "QUERY_STRING",
    "PATH_INFO",       "HTTP_HOST",         "HOST",         "HTTP_CONTENT_LENGTH",
    "CONTENT_LENGTH",  "HTTP_CONTENT_TYPE", "CONTENT_TYPE", "SCRIPT_NAME",
    "HTTP_USER_AGENT", "USER_AGENT",        "SERVER_PORT",
};

// Standard input of the request: a pipe the test writes into.
class RequestTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kNames) unsetenv(name);
    ASSERT_EQ(pipe(input_), 0);
  }
  void TearDown() override {
    for (const char* name : kNames) unsetenv(name);
    close(input_[0]);
    if (input_[1] >= 0) close(input_[1]);
  }
  void Environment(const std::map<std::string, std::string>& values) {
    for (const auto& [name, value] : values) setenv(name.c_str(), value.c_str(), 1);
  }
  void Feed(std::string_view bytes) {
    ASSERT_EQ(write(input_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void EndInput() {
    close(input_[1]);
    input_[1] = -1;
  }
  int input_[2] = {-1, -1};
};

TEST_F(RequestTest, MethodTypeIgnoresLetterCase) {
  struct Case {
    const char* method;
    TMethodType type;
  } cases[] = {{"GET", mtGet},   {"get", mtGet},   {"PUT", mtPut},    {"post", mtPost},
               {"PoSt", mtPost}, {"HEAD", mtHead}, {"DELETE", mtAny}, {"", mtAny}};
  for (const auto& c : cases) {
    setenv("REQUEST_METHOD", c.method, 1);
    TCGIRequest request(input_[0]);
    EXPECT_EQ(request.MethodType(), c.type) << c.method;
    EXPECT_EQ(request.Method(), c.method);
  }
}

TEST_F(RequestTest, HttpVariablesFallBackToTheUnprefixedName) {
  Environment({{"HOST", "fallback.example"}, {"CONTENT_TYPE", "text/plain"}});
  TCGIRequest request(input_[0]);
  EXPECT_EQ(request.VariableText(rvHost), "fallback.example");
  EXPECT_EQ(request.VariableText(rvContentType), "text/plain");
  // Set but empty counts as missing.
  setenv("HTTP_HOST", "", 1);
  EXPECT_EQ(request.Host(), "fallback.example");
  setenv("HTTP_HOST", "direct.example", 1);
  EXPECT_EQ(request.Host(), "direct.example");
  // Names without the prefix have no fallback.
  setenv("SCRIPT_NAME", "", 1);
  setenv("NAME", "wrong", 1);
  EXPECT_EQ(request.ScriptName(), "");
  unsetenv("NAME");
  EXPECT_EQ(request.VariableText(-1), "");
  EXPECT_EQ(request.VariableText(kRequestVariableCount), "");
}

TEST_F(RequestTest, VariableNumberIsMinusOneUnlessTheWholeTextConverts) {
  struct Case {
    const char* text;
    std::int32_t number;
  } cases[] = {{"8080", 8080}, {" 42", 42}, {"$1F", 31}, {"0x10", 16},      {"-7", -7},
               {"", -1},       {"80a", -1}, {"42 ", -1}, {"2147483648", -1}};
  for (const auto& c : cases) {
    setenv("SERVER_PORT", c.text, 1);
    TCGIRequest request(input_[0]);
    EXPECT_EQ(request.VariableNumber(rvServerPort), c.number) << c.text;
  }
}

TEST_F(RequestTest, LongVariablesAreReadWhole) {
  std::string agent(10000, 'a');
  agent += "end";
  Environment({{"HTTP_USER_AGENT", agent}});
  TCGIRequest request(input_[0]);
  EXPECT_EQ(request.VariableText(rvUserAgent), agent);
}

TEST_F(RequestTest, BodyIsReadAtCreationUpToTheContentLength) {
  Environment({{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "7"}});
  Feed("a=1&b=2TRAILING");
  TCGIRequest request(input_[0]);
  EXPECT_EQ(request.Content(), "a=1&b=2");
  EXPECT_EQ(request.VariableText(rvContent), "a=1&b=2");
  EXPECT_EQ(request.ContentFieldList(), (TStringList{"a=1", "b=2"}));
}

TEST_F(RequestTest, NoBodyIsReadWithoutAUsableContentLength) {
  for (const char* length : {"", "0", "-5", "ten"}) {
    setenv("CONTENT_LENGTH", length, 1);
    TCGIRequest request(input_[0]);
    EXPECT_EQ(request.Content(), "") << length;
    EXPECT_TRUE(request.ContentFieldList().empty()) << length;
  }
  // Nothing was consumed from the input.
  Feed("x");
  char byte;
  EXPECT_EQ(read(input_[0], &byte, 1), 1);
}

TEST_F(RequestTest, ShortBodyGetsOneMoreReadWhenTheFieldsAreBuilt) {
  Environment({{"HTTP_CONTENT_LENGTH", "8"}});
  Feed("x=1&");
  TCGIRequest request(input_[0]);
  EXPECT_EQ(request.Content(), "x=1&");
  Feed("y=22");
  EXPECT_EQ(request.ContentFieldList(), (TStringList{"x=1", "y=22"}));
  // The content itself stays as the first read left it.
  EXPECT_EQ(request.Content(), "x=1&");
}

TEST_F(RequestTest, BodyArrivingInPiecesIsReadWhole) {
  Environment({{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "14"}});
  Feed("a=1&");
  std::thread sender([this] {
    for (const char* piece : {"b=22&", "c=333"}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      Feed(piece);
    }
  });
  TCGIRequest request(input_[0]);
  EXPECT_EQ(request.ContentFieldList(), (TStringList{"a=1", "b=22", "c=333"}));
  sender.join();
}

TEST_F(RequestTest, BodyThatNeverArrivesGivesWhatThereIs) {
  Environment({{"CONTENT_LENGTH", "100"}});
  Feed("x=1");
  EndInput();
  TCGIRequest request(input_[0]);
  EXPECT_EQ(request.ContentFieldList(), (TStringList{"x=1"}));
}

TEST_F(RequestTest, FieldListsAreBuiltOnceAndDecoded) {
  Environment({{"QUERY_STRING", "a+b%2Bc=x%26y&BOOKNAME=%93%FA%96%7B"}});
  TCGIRequest request(input_[0]);
  const TStringList& fields = request.QueryFieldList();
  EXPECT_EQ(fields, (TStringList{"a b+c=x&y", "BOOKNAME=\x93\xFA\x96\x7B"}));
  setenv("QUERY_STRING", "changed=1", 1);
  EXPECT_EQ(&request.QueryFieldList(), &fields);
  EXPECT_EQ(FieldValue(request.QueryFieldList(), "bookname"), "\x93\xFA\x96\x7B");
}

TEST_F(RequestTest, EmptyQueryStringGivesNoFields) {
  TCGIRequest request(input_[0]);
  EXPECT_TRUE(request.QueryFieldList().empty());
  EXPECT_EQ(FieldValue(request.QueryFieldList(), "BOOKNAME"), "");
}

TEST_F(RequestTest, MalformedEscapeFailsTheFieldList) {
  Environment({{"QUERY_STRING", "a=%zz"}});
  TCGIRequest request(input_[0]);
  try {
    request.QueryFieldList();
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    // '$zz' は整数ではありません
    EXPECT_EQ(
        e.Message(),
        "'$zz' \x82\xCD\x90\xAE\x90\x94\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1");
  }
}

TEST_F(RequestTest, WriteTextWritesEveryByte) {
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  TCGIRequest request(input_[0], output[1]);
  std::string bytes("a\0b\r\n\x82\xA0", 7);
  EXPECT_TRUE(request.WriteText(bytes));
  close(output[1]);
  char buffer[16];
  ASSERT_EQ(read(output[0], buffer, sizeof buffer), 7);
  EXPECT_EQ(std::string(buffer, 7), bytes);
  close(output[0]);
  EXPECT_FALSE(request.WriteText("x"));  // closed descriptor
}

}  // namespace
