// The FastCGI side of the shell end-to-end tests, which otherwise run the program as a CGI
// process:
//   fastcgi_request --serve SOCKET PROGRAM [N] listens on the Unix socket SOCKET and runs
//                                            N processes (default 1) of PROGRAM with it
//                                            as standard input (in this environment and
//                                            folder), as a FastCGI server starts its
//                                            program; ended by SIGTERM, it ends them
//   fastcgi_request SOCKET [NAME=VALUE...]   sends one request with those variables and
//                                            standard input as its body, and writes the
//                                            answer to standard output as a CGI run would
// The request exits 0 when the program ended the request, 1 when it did not, 2 on misuse.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/support/fastcgi_client.h"

namespace {

volatile sig_atomic_t stopping = 0;

int Serve(const char* socketPath, char* program, int processes) {
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
  // Without SA_RESTART, so that SIGTERM ends the wait below.
  struct sigaction onTerm {};
  onTerm.sa_handler = [](int) { stopping = 1; };
  sigaction(SIGTERM, &onTerm, nullptr);
  std::vector<pid_t> children;
  for (int i = 0; i < processes; ++i) {
    const pid_t child = fork();
    if (child == 0) {
      signal(SIGTERM, SIG_DFL);
      char* argv[] = {program, nullptr};
      execv(program, argv);
      std::perror(program);
      _exit(2);
    }
    if (child > 0) children.push_back(child);
  }
  close(0);
  while (!stopping && wait(nullptr) > 0) {
  }
  for (const pid_t child : children) kill(child, SIGTERM);
  for (const pid_t child : children) waitpid(child, nullptr, 0);
  unlink(socketPath);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--serve") == 0) {
    return Serve(argv[2], argv[3], argc == 5 ? std::atoi(argv[4]) : 1);
  }
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
