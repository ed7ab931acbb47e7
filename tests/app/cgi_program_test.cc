// End-to-end: the test module's CGI program runs as a child process with an
// environment and standard input of the test's choosing, and its whole output is
// compared byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/support/cgi_response.h"
#include "tests/support/child_process.h"

namespace {

using test_support::ChildResult;
using test_support::Page;
using test_support::ServerError;

// Runs the CGI program with exactly the variables given and input as standard input.
ChildResult RunCGI(const std::map<std::string, std::string>& variables,
                   const std::string& input = "") {
  test_support::ChildRun run;
  run.program = TEST_CGI_PROGRAM;
  run.variables = variables;
  run.input = input;
  return test_support::RunChild(run);
}

// The module's destructor reports the size of standard output when it ran: the
// whole response must have been written by then, exactly once.
void ExpectDestroyedAfterResponse(const ChildResult& result) {
  EXPECT_EQ(result.errors, "destroyed after " + std::to_string(result.output.size()) + " bytes\n");
  EXPECT_EQ(result.exitCode, 0);
}

TEST(CGIProgram, RoutesByPathIgnoringCaseAndMethod) {
  struct Case {
    const char* path;  // nullptr: no PATH_INFO at all
    const char* method;
    std::string content;
  } cases[] = {
      {nullptr, "GET", "TOP method=1 path=[]\r\n"},
      {"/", "GET", "TOP method=1 path=[/]\r\n"},
      {"/top", "POST", "TOP method=3 path=[/top]\r\n"},
      {"/list", "GET", "LIST method=1 path=[/list]\r\nBOOKNAME=\r\n"},
      {"/LIST", "HEAD", "LIST method=4 path=[/LIST]\r\nBOOKNAME=\r\n"},
      {"/List", "", "LIST method=0 path=[/List]\r\nBOOKNAME=\r\n"},
      {"/list/", "GET", "TOP method=1 path=[/list/]\r\n"},
      {"/list2", "GET", "TOP method=1 path=[/list2]\r\n"},
      {"/data", "GET", "DATA method=1 path=[/data]\r\n"},
      {"/data", "POST", "DATA method=3 path=[/data]\r\n"},
      {"/DATA", "HEAD", "DATA method=4 path=[/DATA]\r\n"},
      {"/data", "BREW", "DATA method=0 path=[/data]\r\n"},
      {"/data", "put", "DATA method=2 path=[/data]\r\n"},
  };
  for (const auto& c : cases) {
    std::map<std::string, std::string> env = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                                              {"REQUEST_METHOD", c.method}};
    if (c.path) env["PATH_INFO"] = c.path;
    ChildResult result = RunCGI(env);
    EXPECT_EQ(result.output, Page(c.content)) << (c.path ? c.path : "(none)") << " " << c.method;
    ExpectDestroyedAfterResponse(result);
  }
}

TEST(CGIProgram, FieldsComeFromQueryOrBody) {
  struct Case {
    std::map<std::string, std::string> env;
    std::string input;
    std::string content;
  } cases[] = {
      // The split at "&" comes before the decoding.
      {{{"QUERY_STRING", "a+b%2Bc=x%26y"}}, "", "a b+c=x&y\r\nBOOKNAME=\r\n"},
      {{{"QUERY_STRING", "BOOKNAME=%93%FA%96%7B&ORDER=MS_SYOKANA&PAGENUM=0"}},
       "",
       "BOOKNAME=\x93\xFA\x96\x7B\r\nORDER=MS_SYOKANA\r\nPAGENUM=0\r\nBOOKNAME="
       "\x93\xFA\x96\x7B\r\n"},
      {{{"QUERY_STRING", "x=1&&y=2&"}}, "", "x=1\r\ny=2\r\nBOOKNAME=\r\n"},
      {{{"QUERY_STRING", "\"a&b\"&n=\"c&d\"X&bookname=q"}},
       "",
       "a&b\r\nn=\"c&d\"\r\nbookname=q\r\nBOOKNAME=q\r\n"},
      // A body announced only as CONTENT_LENGTH is read; the query is not used.
      {{{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "19"}, {"QUERY_STRING", "q=1"}},
       "BOOKNAME=%8F%AC&x=1trailing",
       "BOOKNAME=\x8F\xAC\r\nx=1\r\nBOOKNAME=\x8F\xAC\r\n"},
      // A body shorter than announced: what arrived is used.
      {{{"REQUEST_METHOD", "POST"}, {"HTTP_CONTENT_LENGTH", "500"}},
       "a=1&b=2",
       "a=1\r\nb=2\r\nBOOKNAME=\r\n"},
      // Method text "post" is mtPost, but the module's own test is for exactly "POST".
      {{{"REQUEST_METHOD", "post"}, {"CONTENT_LENGTH", "3"}, {"QUERY_STRING", "q=1"}},
       "b=2",
       "q=1\r\nBOOKNAME=\r\n"},
  };
  for (const auto& c : cases) {
    std::map<std::string, std::string> env = c.env;
    env["SERVER_PROTOCOL"] = "HTTP/1.1";
    env["PATH_INFO"] = "/list";
    if (!env.count("REQUEST_METHOD")) env["REQUEST_METHOD"] = "GET";
    const int method = env["REQUEST_METHOD"] == "GET" ? 1 : 3;
    ChildResult result = RunCGI(env, c.input);
    EXPECT_EQ(result.output,
              Page("LIST method=" + std::to_string(method) + " path=[/list]\r\n" + c.content))
        << c.input;
    ExpectDestroyedAfterResponse(result);
  }
}

TEST(CGIProgram, AnnouncedBodyLengthDoesNotDecideTheMemoryTaken) {
  // Under a 400 MB address-space limit, as a web server may set one, a request that
  // announces a 2 GB body but sends a few bytes is still served: from a file, whose
  // size bounds the read, and through a pipe, as web servers pass the body.
  for (const bool throughPipe : {false, true}) {
    test_support::ChildRun run;
    run.program = "/usr/bin/prlimit";
    run.arguments = {"--as=400000000", TEST_CGI_PROGRAM};
    run.variables = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                     {"REQUEST_METHOD", "POST"},
                     {"PATH_INFO", "/list"},
                     {"CONTENT_LENGTH", "2000000000"}};
    run.input = "BOOKNAME=a";
    run.inputThroughPipe = throughPipe;
    ChildResult result = test_support::RunChild(run);
    EXPECT_EQ(result.output, Page("LIST method=3 path=[/list]\r\nBOOKNAME=a\r\nBOOKNAME=a\r\n"))
        << (throughPipe ? "pipe" : "file");
    ExpectDestroyedAfterResponse(result);
  }
}

TEST(CGIProgram, ClientThatHasGoneDoesNotKillTheProgram) {
  // Every write fails; the program still ends normally, after destroying the module,
  // which a SIGPIPE left at its default action would not let it do.
  test_support::ChildRun run;
  run.program = TEST_CGI_PROGRAM;
  run.variables = {{"SERVER_PROTOCOL", "HTTP/1.1"}, {"PATH_INFO", "/list"}};
  run.outputClosed = true;
  ChildResult result = test_support::RunChild(run);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.errors, "destroyed after 0 bytes\n");
}

TEST(CGIProgram, VariablesFallBackAndLongOnesAreReadWhole) {
  const std::string agent = std::string(5000, 'u') + "\x82\xA0";
  ChildResult result = RunCGI({{"SERVER_PROTOCOL", "HTTP/1.0"},
                               {"PATH_INFO", "/vars"},
                               {"HOST", "library.example"},
                               {"HTTP_USER_AGENT", agent},
                               {"CONTENT_LENGTH", "4"},
                               {"SERVER_PORT", "8080"}},
                              "body");
  EXPECT_EQ(result.output, Page("1=[HTTP/1.0]\r\n4=[/vars]\r\n10=[library.example]\r\n13=[" +
                                agent + "]\r\n16=[4]\r\n24=[8080]\r\n25=[body]\r\nlength=4\r\n"));
  // HTTP_HOST wins over HOST when it is set.
  result = RunCGI({{"PATH_INFO", "/vars"}, {"HOST", "fallback"}, {"HTTP_HOST", "direct"}});
  EXPECT_EQ(result.output, "4=[/vars]\r\n10=[direct]\r\nlength=-1\r\n");
}

TEST(CGIProgram, HeaderBlockOnlyWithAProtocol) {
  struct Case {
    std::map<std::string, std::string> env;
    std::string output;
  } cases[] = {
      {{{"PATH_INFO", "/data"}}, "DATA method=0 path=[/data]\r\n"},
      {{{"PATH_INFO", "/empty"}, {"SERVER_PROTOCOL", "HTTP/1.1"}},
       "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n"},
      {{{"PATH_INFO", "/empty"}}, ""},
      // Sent by the action itself, and not a second time.
      {{{"PATH_INFO", "/sendself"}, {"SERVER_PROTOCOL", "HTTP/1.1"}},
       Page("sent by the action\r\n")},
  };
  for (const auto& c : cases) {
    ChildResult result = RunCGI(c.env);
    EXPECT_EQ(result.output, c.output) << c.env.begin()->second;
    ExpectDestroyedAfterResponse(result);
  }
}

TEST(CGIProgram, EscapingExceptionsGiveTheFixed500Response) {
  struct Case {
    std::string query;
    std::string response;
  } cases[] = {
      {"MSG=file+missing", ServerError("ETestError", "file missing", "file missing")},
      // CR LF in the message cannot end the status line or add a header, and markup in
      // it is shown as text.
      {"MSG=bad%0D%0AX-Injected:+1%0D%0A%0D%0A<b>%09%7F",
       ServerError("ETestError", "bad  X-Injected: 1    <b>  ",
                   "bad\r\nX-Injected: 1\r\n\r\n&lt;b&gt;\t\x7F")},
      {"MSG=", ServerError("ETestError", "", "")},
      // メモリが不足しています
      {"KIND=alloc", ServerError("EOutOfMemory",
                                 "\x83\x81\x83\x82\x83\x8A\x82\xAA\x95\x73\x91\xAB\x82\xB5\x82\xC4"
                                 "\x82\xA2\x82\xDC\x82\xB7",
                                 "\x83\x81\x83\x82\x83\x8A\x82\xAA\x95\x73\x91\xAB\x82\xB5\x82\xC4"
                                 "\x82\xA2\x82\xDC\x82\xB7")},
      {"KIND=std&MSG=index", ServerError("std::out_of_range", "index", "index")},
      // 不明な例外が発生しました
      {"KIND=other",
       ServerError("Exception",
                   "\x95\x73\x96\xBE\x82\xC8\x97\xE1\x8A\x4F\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82"
                   "\xDC\x82\xB5\x82\xBD",
                   "\x95\x73\x96\xBE\x82\xC8\x97\xE1\x8A\x4F\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82"
                   "\xDC\x82\xB5\x82\xBD")},
      // A malformed escape fails the field list while the action reads it:
      // '$zz' は整数ではありません
      {"MSG=%zz",
       ServerError("EConvertError",
                   "'$zz' \x82\xCD\x90\xAE\x90\x94\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82"
                   "\xDC\x82\xB9\x82\xF1",
                   "&#39;$zz&#39; \x82\xCD\x90\xAE\x90\x94\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82"
                   "\xDC\x82\xB9\x82\xF1")},
  };
  for (const auto& c : cases) {
    ChildResult result = RunCGI(
        {{"SERVER_PROTOCOL", "HTTP/1.1"}, {"PATH_INFO", "/fail"}, {"QUERY_STRING", c.query}});
    EXPECT_EQ(result.output, c.response) << c.query;
    ExpectDestroyedAfterResponse(result);
  }
}

TEST(CGIProgram, FailingModuleConstructorGivesThe500ResponseWithoutAModule) {
  ChildResult result = RunCGI({{"SERVER_PROTOCOL", "HTTP/1.1"}, {"TEST_MODULE_FAIL", "no config"}});
  EXPECT_EQ(result.output, ServerError("EFOpenError", "no config", "no config"));
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(result.exitCode, 0);
}

TEST(CGIProgram, StartupFailureIsReportedOnStandardOutput) {
  struct Case {
    std::string message;
    std::string shown;
  } cases[] = {{"hook failed", "hook failed."}, {"done.", "done."}, {"", ""}};
  for (const auto& c : cases) {
    ChildResult result = RunCGI({{"TEST_STARTUP_FAIL", c.message}});
    // "EConvertErrorがモジュール app_test_cgi の " address " で発生しました。\n"; the
    // address depends on where the program was loaded, so only its form is checked.
    const std::string head =
        "EConvertError\x82\xAA\x83\x82\x83\x57\x83\x85\x81\x5B\x83\x8B app_test_cgi \x82\xCC ";
    const std::string tail =
        " \x82\xC5\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\n" + c.shown + "\n";
    const std::size_t digits = 2 * sizeof(void*);
    ASSERT_EQ(result.output.size(), head.size() + digits + tail.size()) << result.output;
    EXPECT_EQ(result.output.substr(0, head.size()), head);
    EXPECT_EQ(result.output.substr(head.size() + digits), tail);
    EXPECT_EQ(result.output.substr(head.size(), digits).find_first_not_of("0123456789ABCDEF"),
              std::string::npos);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.exitCode, 0);
  }
}

}  // namespace
