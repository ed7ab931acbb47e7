// The FastCGI side of the shell end-to-end tests, which otherwise run the program as a CGI
// process:
//   fastcgi_request --serve SOCKET PROGRAM   listens on the Unix socket SOCKET and runs
//                                            PROGRAM with it as standard input (in this
//                                            environment and folder), as a FastCGI
//                                            server starts its program
//   fastcgi_request SOCKET [NAME=VALUE...]   sends one request with those variables and
//                                            standard input as its body, and writes the
//                                            answer to standard output as a CGI run would
// The request exits 0 when the program ended the request, 1 when it did not, 2 on misuse.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <map>
#include <string>

#include "tests/support/fastcgi_client.h"

namespace {

int Serve(const char* socketPath, char* program) {
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath);
  unlink(socketPath);
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
      listen(listener, 64) || dup2(listener, 0) < 0) {
    std::perror(socketPath);
    return 2;
  }
  close(listener);
  char* argv[] = {program, nullptr};
  execv(program, argv);
  std::perror(program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--serve") == 0) return Serve(argv[2], argv[3]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: fastcgi_request SOCKET [NAME=VALUE...] < BODY\n");
    return 2;
  }
  std::map<std::string, std::string> variables;
  for (int i = 2; i < argc; ++i) {
    const char* equals = std::strchr(argv[i], '=');
    if (!equals) return 2;
    variables[std::string(argv[i], static_cast<std::size_t>(equals - argv[i]))] = equals + 1;
  }
  const std::string body(std::istreambuf_iterator<char>(std::cin), {});
  const test_support::FastCGIAnswer answer =
      test_support::SendFastCGIRequest(argv[1], variables, body);
  std::fwrite(answer.output.data(), 1, answer.output.size(), stdout);
  std::fwrite(answer.errors.data(), 1, answer.errors.size(), stderr);
  return answer.ended ? 0 : 1;
}
