// The test module's program started as a FastCGI process: every answer, over a run of
// requests in one process, must be the bytes a CGI run of the same program gives for
// the same variables and body.
#include "app/fastcgi_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/fastcgi_client.h"
#include "tests/support/temp_dir.h"

namespace {

using test_support::FastCGIProcess;
using Variables = std::map<std::string, std::string>;

std::string RunAsCGI(const Variables& variables, const std::string& body) {
  test_support::ChildRun run;
  run.program = TEST_CGI_PROGRAM;
  run.variables = variables;
  run.input = body;
  return test_support::RunChild(run).output;
}

// The text with every run of 16 hexadecimal digits (an address) replaced by "ADDRESS".
std::string WithoutAddress(const std::string& text) {
  static const std::regex kAddress("[0-9A-F]{16}");
  return std::regex_replace(text, kAddress, "ADDRESS");
}

TEST(FastCGIServer, AnswersEveryRequestOfOneProcessAsACGIRunDoes) {
  struct Case {
    Variables variables;
    std::string body;
  };
  const Variables get = {{"SERVER_PROTOCOL", "HTTP/1.1"}, {"REQUEST_METHOD", "GET"}};
  auto with = [&](Variables more) {
    more.insert(get.begin(), get.end());
    return more;
  };
  const std::string longValue(70000, 'x');  // a variable longer than one record
  const Case cases[] = {
      {with({}), ""},
      {with({{"PATH_INFO", "/list"}, {"QUERY_STRING", "BOOKNAME=%93%FA&a=1"}}), ""},
      // Variables of the request before must not be seen by this one.
      {with({{"PATH_INFO", "/vars"}}), ""},
      {with({{"PATH_INFO", "/vars"}, {"HTTP_COOKIE", "c=1"}, {"CONTENT_TYPE", "text/plain"}}), ""},
      {with({{"PATH_INFO", "/vars"}}), ""},
      {with({{"PATH_INFO", "/vars"}, {"HTTP_USER_AGENT", longValue}}), ""},
      {{{"SERVER_PROTOCOL", "HTTP/1.1"},
        {"REQUEST_METHOD", "POST"},
        {"PATH_INFO", "/list"},
        {"CONTENT_LENGTH", "19"}},
       "BOOKNAME=%8CL&x=y+z"},
      // A body longer than one record, and one shorter than its announced length.
      {{{"SERVER_PROTOCOL", "HTTP/1.1"},
        {"REQUEST_METHOD", "POST"},
        {"PATH_INFO", "/list"},
        {"CONTENT_LENGTH", "80004"}},
       "a=" + std::string(80000, 'b') + "&c=d"},
      {{{"SERVER_PROTOCOL", "HTTP/1.1"},
        {"REQUEST_METHOD", "POST"},
        {"PATH_INFO", "/list"},
        {"CONTENT_LENGTH", "50"}},
       "a=1"},
      // No body after one: nothing of the body before may be read.
      {{{"SERVER_PROTOCOL", "HTTP/1.1"},
        {"REQUEST_METHOD", "POST"},
        {"PATH_INFO", "/list"},
        {"CONTENT_LENGTH", "3"}},
       ""},
      // Failures end in the 500 response; the next request is served as usual.
      {with({{"PATH_INFO", "/fail"}, {"QUERY_STRING", "MSG=bad%0D%0Aline"}}), ""},
      {with({{"PATH_INFO", "/fail"}, {"QUERY_STRING", "KIND=alloc"}}), ""},
      {with({{"PATH_INFO", "/list"}, {"QUERY_STRING", "BOOKNAME=%ZZ"}}), ""},
      // A module that cannot be made answers 500; the next request makes its own.
      {with({{"TEST_MODULE_FAIL", "settings gone"}}), ""},
      {with({{"PATH_INFO", "/sendself"}}), ""},
      {with({{"PATH_INFO", "/empty"}}), ""},
      {{{"REQUEST_METHOD", "GET"}}, ""},
      {with({}), ""},
  };
  test_support::TempDir folder("fastcgi_server_");
  FastCGIProcess process(TEST_CGI_PROGRAM, folder.Path(), {});
  for (int round = 0; round < 2; ++round) {
    for (const Case& c : cases) {
      const auto answer = process.Request(c.variables, c.body);
      EXPECT_TRUE(answer.ended);
      EXPECT_EQ(answer.output, RunAsCGI(c.variables, c.body))
          << "round " << round << ", PATH_INFO " << c.variables.count("PATH_INFO");
    }
  }
}

TEST(FastCGIServer, ProcessEnvironmentFillsInWhatTheRequestLeavesOut) {
  const Variables request = {
      {"SERVER_PROTOCOL", "HTTP/1.1"}, {"PATH_INFO", "/vars"}, {"HTTP_HOST", "request.example"}};
  struct Case {
    Variables process;  // the environment the FastCGI process is started with
    Variables cgi;      // the whole environment of the CGI run that must answer the same
  } cases[] = {
      {{{"HTTP_HOST", "process.example"}, {"HTTP_FROM", "process"}},
       {{"SERVER_PROTOCOL", "HTTP/1.1"},
        {"PATH_INFO", "/vars"},
        {"HTTP_HOST", "request.example"},
        {"HTTP_FROM", "process"}}},
      // A start-up hook that fails is reported for every request, as by a CGI run (the
      // report names the address of the entry routine, which differs from process to
      // process).
      {{{"TEST_STARTUP_FAIL", "hook failed"}},
       {{"SERVER_PROTOCOL", "HTTP/1.1"},
        {"PATH_INFO", "/vars"},
        {"HTTP_HOST", "request.example"},
        {"TEST_STARTUP_FAIL", "hook failed"}}},
  };
  for (const Case& c : cases) {
    test_support::TempDir folder("fastcgi_server_");
    FastCGIProcess process(TEST_CGI_PROGRAM, folder.Path(), c.process);
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(WithoutAddress(process.Request(request).output),
                WithoutAddress(RunAsCGI(c.cgi, "")))
          << round;
    }
  }
}

TEST(FastCGIServer, OnlyAListeningSocketStartsTheServer) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  const int unbound = socket(AF_UNIX, SOCK_STREAM, 0);
  test_support::TempDir folder("fastcgi_listener_");
  const std::string path = folder / "socket";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  const struct {
    int fd;
    bool listening;
  } cases[] = {{ends[0], false}, {pair[0], false}, {unbound, false}, {listener, true}, {-1, false}};
  for (const auto& c : cases) EXPECT_EQ(app::IsFastCGIListener(c.fd), c.listening) << c.fd;
  for (int fd : {ends[0], ends[1], pair[0], pair[1], unbound, listener}) close(fd);
}

}  // namespace
